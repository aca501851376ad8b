// The lenient XML parser: it never rejects a text, builds whatever tree the text yields,
// and walks the text once with one moving position, without recursion.
#pragma once

#include <cstdint>
#include <memory>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "packing/buffers.h"
#include "packing/log_base.h"
#include "packing/tree_node.h"

namespace vemtu::packing {

// Told of a top-level element as soon as its start tag is read, and of each of its
// children as soon as the child is closed (its subtree no longer changes then).
class ParseObserver {
 public:
  virtual ~ParseObserver() = default;
  // The pending declaration, stylesheet instructions and prolog text as they stand.
  virtual void TopLevelOpened(const TreeNode& element, const TreeNode* declaration,
                              const std::vector<TreeNode*>& stylesheets, std::string_view prolog) = 0;
  virtual void TopLevelChildClosed(const TreeNode& child) = 0;
};

class ParseEngine {
 public:
  // `text` ends at its first NUL byte or its end, whichever comes first. With
  // `discard_read`, `text` is memory the caller owns and frees after the parse: the pages
  // the parse has passed go back to the system as it goes (no node refers to them), so a
  // large file and its tree are not held whole at the same time.
  ParseEngine(std::string_view text, bool auto_trim, LogBase& log, bool discard_read = false,
              ParseObserver* observer = nullptr);
  ~ParseEngine();
  ParseEngine(const ParseEngine&) = delete;
  ParseEngine& operator=(const ParseEngine&) = delete;

  // Parses the text. Returns the top-level element that forms the result, whose tree
  // holds one reference that passes to the caller, or null when the text holds no element.
  TreeNode* Run();

 private:
  enum class Step { kGoOn, kStop };

  Step Dispatch();
  Step ReadStartTag();
  Step ReadEndTag();
  Step ReadInstruction();
  Step ReadPseudoAttributes(TreeNode* node);
  Step ReadCdata();
  void AddText(const char* lead_begin, const char* lead_end, const char* run_begin,
               const char* run_end);
  void SetSharedTag(TreeNode* element, std::string_view raw);
  void CloseCurrent();
  void CloseElement(TreeNode* element);
  TreeNode* Finish();
  void SkipSpace();
  void DiscardRead();

  const char* p_;
  const char* end_;
  const char* kept_ = nullptr;  // with discard_read: the first byte not yet discarded
  bool auto_trim_;
  LogBase& log_;
  ParseObserver* observer_;

  TreeNode* current_ = nullptr;  // the open element
  TreeNode* result_ = nullptr;   // the last completed top-level element
  TreeNode* last_closed_ = nullptr;  // the element closed last, in the open tree
  TreeInfo* open_tree_ = nullptr;    // tree of the open top-level element (one reference)
  TreeInfo* result_tree_ = nullptr;  // tree of the result (one reference)

  // What a top-level element takes over when it closes. The pending nodes live in the
  // arena of a tree record of their own until then.
  TreeInfo* pending_tree_ = nullptr;
  TreeNode* pending_declaration_ = nullptr;
  std::vector<TreeNode*> pending_stylesheets_;
  StringBuffer prolog_;

  // The tags of the open tree, each held once in its arena.
  std::unordered_set<std::string_view> tags_;
  std::vector<char> tag_scratch_;

  // Attributes of the start tag being read, committed to the element in one piece.
  std::vector<char> attribute_bytes_;
  std::vector<std::uint32_t> attribute_lengths_;
};

}  // namespace vemtu::packing
