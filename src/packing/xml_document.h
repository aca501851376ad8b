// One XML document: a tree loaded from a file or a text by the lenient parser, written
// in the fixed layout, and packed in place by ZipTree.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "packing/buffers.h"
#include "packing/log_base.h"
#include "packing/tree_node.h"
#include "platform/files.h"

namespace vemtu::packing {

class XmlDocument {
 public:
  // A new document's root is an empty element named "unnamed" with a tree of its own.
  XmlDocument();
  ~XmlDocument();
  XmlDocument(const XmlDocument&) = delete;
  XmlDocument& operator=(const XmlDocument&) = delete;

  // Reads and parses a file (path in the system code page, white space around it
  // ignored), bringing its bytes to UTF-8 first. On failure the previous tree stays.
  bool LoadXmlFile(std::string_view path, bool auto_trim);
  // The same from `file`, open already, read from its start (`path` names it in the log).
  bool LoadXmlFile(const platform::File& file, const std::string& path, bool auto_trim);
  // Parses a text (up to its first NUL byte). A text without "<", shorter than 100 bytes
  // after trimming and ending in ".xml" is taken as a path for LoadXmlFile instead.
  bool LoadXml(std::string_view text, bool auto_trim);
  // Serialises the document and writes it to `path`, in the declared encoding.
  bool SaveXml(const char* path);
  // The same into `file`, open for writing and empty (`path` names it in the log); the
  // caller disposes of a file left incomplete.
  bool SaveXml(platform::File& file, const std::string& path);
  // Appends the serialisation of `node` and its subtree (see serialize.h).
  void SerializeNode(const TreeNode& node, StringBuffer& out, int child_index, int depth,
                     bool omit_declaration) const;
  // The whole document: SerializeNode on the root with 0, 0, false.
  void Serialize(StringBuffer& out) const;
  // Replaces the root's children by its packed serialisation (raw DEFLATE, base64) as
  // CDATA content. False, with the document unchanged, when there is nothing to pack or
  // the compressor fails.
  bool ZipTree();
  // Has the next load pack the document while it parses it, for the ZipTree that
  // follows; the result is the same.
  void PackWhileLoading();

  // The declaration's first "encoding" value; false when there is none.
  bool GetEncoding(std::string* name) const;
  // Creates the declaration (tag "xml", version "1.0") when there is none, then removes
  // every "encoding" pseudo-attribute and appends one with `name`.
  void SetEncoding(std::string_view name);

  TreeNode* root() const { return root_; }
  const LogBase& log() const { return log_; }
  // True once an operation failed for want of memory: the input may be a good document.
  bool OutOfMemory() const { return out_of_memory_; }

 private:
  bool Parse(std::string_view text, bool auto_trim, bool from_file);
  bool LoadOpenFile(const platform::File& file, const std::string& path, bool auto_trim);
  // Installs `root`, whose tree holds one reference for the document already.
  void InstallRoot(TreeNode* root);
  void ReleaseRoot();
  // The path as the file system takes it: "/" turned into "\\", then made native.
  static std::string FilePath(std::string_view trimmed);
  // Creates or empties the file for writing without sharing, clearing a read-only
  // attribute once if needed; records the failure.
  platform::File OpenForWriting(const std::string& path);
  // Checks the tree can be saved and settles the encoding it is saved in.
  bool ReadyToSave(std::string& encoding);
  bool WriteDocument(platform::File& file, const std::string& path, const std::string& encoding);
  bool WriteSerialised(platform::File& file, const std::string& path);

  class ZipAhead;
  std::unique_ptr<ZipAhead> zip_ahead_;
  TreeNode* root_ = nullptr;
  LogBase log_;
  bool out_of_memory_ = false;
  std::mutex lock_;
};

}  // namespace vemtu::packing
