// The tree's own rules: attribute sets, name sanitising, detaching subtrees, and the
// buffers and arena that hold them.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <new>
#include <string>

#include "packing/buffers.h"
#include "packing/node_arena.h"
#include "packing/tree_node.h"
#include "packing/xml_document.h"

namespace vemtu::packing {
namespace {

std::string Pairs(const AttributeSet* set) {
  std::string out;
  if (set) set->ForEach([&](std::string_view n, std::string_view v) {
    out.append(n).append("=").append(v).append(";");
  });
  return out;
}

TEST(AttributeSet, AppendsLooksUpFirstAndRemovesAll) {
  XmlDocument document;
  TreeNode* node = document.root();
  node->AddAttribute("a", "1");
  node->AddAttribute("b", "");
  node->AddAttribute("a", "2");
  node->AddAttribute("A", "3");
  EXPECT_EQ(Pairs(node->attributes), "a=1;b=;a=2;A=3;");
  std::string_view value;
  ASSERT_TRUE(node->attributes->Lookup("a", &value));
  EXPECT_EQ(value, "1");
  EXPECT_TRUE(node->attributes->Lookup("b", &value));
  EXPECT_EQ(value, "");
  EXPECT_FALSE(node->attributes->Lookup("c", &value));
  node->attributes->Remove("a");
  EXPECT_EQ(Pairs(node->attributes), "b=;A=3;");
  node->AddAttribute("c", "4");
  EXPECT_EQ(Pairs(node->attributes), "b=;A=3;c=4;");
  EXPECT_EQ(node->attributes->Count(), 3u);
}

TEST(AttributeSet, NamesAreSanitised) {
  struct Case {
    const char* given;
    const char* stored;
  } cases[] = {
      {"plain", "plain"},   {"1st", "A1st"},    {"-x", "A-x"},         {".x", "A.x"},
      {"x1-._:!", "x1-._:!"}, {"a b\tc", "abc"}, {"\xC3\xA9t\xC3\xA9", "\xC3\xA9t\xC3\xA9"},
      {"@#$%", ""},         {"_1", "_1"},       {"9", "A9"},
  };
  for (const Case& c : cases) {
    XmlDocument document;
    document.root()->AddAttribute(c.given, "v");
    EXPECT_EQ(Pairs(document.root()->attributes), std::string(c.stored) + "=v;") << c.given;
  }
  XmlDocument document;
  document.root()->SetTag("<a b>c/\x01\x7F\x80");
  EXPECT_EQ(document.root()->tag(), "abc\x80");
}

TEST(TreeNode, DroppedChildrenLeaveAnOpenEmptyElement) {
  XmlDocument document;
  ASSERT_TRUE(document.LoadXml("<r><a><held/></a><b/></r>", true));
  TreeNode* root = document.root();
  root->DropChildren();
  EXPECT_EQ(root->first_child, nullptr);
  EXPECT_TRUE(root->has_children);
  StringBuffer out;
  document.Serialize(out);
  EXPECT_EQ(out.view(), "\r\n<r></r>\r\n");  // the emptied children list still opens the element
}

// Packing while loading gives the packing of the loaded tree; a tree whose children
// changed at either end after the load is packed anew.
TEST(ZipTree, PackedWhileLoadingOnlyWhileTheChildrenAreTheLoadedOnes) {
  const std::string text = "<r k=\"v\"><a>1</a><b><c/></b><d>x &amp; y</d></r>";
  auto packed = [&](bool ahead, void (*change)(TreeNode&)) {
    XmlDocument document;
    if (ahead) document.PackWhileLoading();
    EXPECT_TRUE(document.LoadXml(text, true));
    if (change) change(*document.root());
    EXPECT_TRUE(document.ZipTree());
    StringBuffer out;
    document.Serialize(out);
    return std::string(out.view());
  };
  auto append = [](TreeNode& root) {
    TreeNode* last = root.first_child;
    while (last->next) last = last->next;
    TreeNode* extra = root.document->NewNode();
    extra->SetTag("extra");
    root.AppendChild(extra, last);
  };
  auto drop_first = [](TreeNode& root) { root.first_child = root.first_child->next; };
  EXPECT_EQ(packed(true, nullptr), packed(false, nullptr));
  EXPECT_EQ(packed(true, append), packed(false, append));
  EXPECT_EQ(packed(true, drop_first), packed(false, drop_first));
  EXPECT_NE(packed(false, append), packed(false, nullptr));
}

TEST(TreeNode, SubtreeWalkNeedsNoStack) {
  XmlDocument document;
  ASSERT_TRUE(document.LoadXml("<a><b><c/><d/></b><e><f><g/></f></e></a>", true));
  std::string order;
  ForEachInSubtree(document.root(), [&](TreeNode* n) { order.append(n->tag()); });
  EXPECT_EQ(order, "abcdefg");
  order.clear();
  ForEachInSubtree(document.root()->first_child, [&](TreeNode* n) { order.append(n->tag()); });
  EXPECT_EQ(order, "bcd");
}

TEST(Buffers, GrowKeepNulAndStopAtTheLimit) {
  StringBuffer s;
  EXPECT_STREQ(s.c_str(), "");
  for (int i = 0; i < 1000; ++i) s.Append("abc");
  EXPECT_EQ(s.size(), 3000u);
  EXPECT_EQ(s.c_str()[3000], '\0');
  s.Truncate(2);
  EXPECT_STREQ(s.c_str(), "ab");
  EXPECT_TRUE(s.EndsWith('b'));
  EXPECT_THROW(s.Extend(kBufferLimit), std::bad_alloc);
  EXPECT_EQ(s.view(), "ab");
  StringBuffer moved = std::move(s);
  EXPECT_EQ(moved.view(), "ab");
  EXPECT_TRUE(s.empty());
}

TEST(NodeArena, AlignsSeparatesLargeBlocksAndAdopts) {
  NodeArena arena;
  char* small = arena.AllocateText(3);
  void* aligned = arena.Allocate(24, 8);
  EXPECT_EQ(reinterpret_cast<std::uintptr_t>(aligned) % 8, 0u);
  char* large = arena.AllocateText(1 << 20);  // a block of its own
  large[(1 << 20) - 1] = 'x';
  char* after = arena.AllocateText(3);
  // The large block went behind the current one: small allocations go on where they were.
  EXPECT_GT(after, small);
  EXPECT_LT(after - small, 64);
  NodeArena other;
  std::memset(other.AllocateText(100), 'y', 100);
  std::size_t held = arena.BytesHeld() + other.BytesHeld();
  arena.Adopt(other);
  EXPECT_EQ(arena.BytesHeld(), held);
  EXPECT_EQ(other.BytesHeld(), 0u);
  EXPECT_NE(other.AllocateText(10), nullptr);  // the emptied arena starts afresh

  // Storage taken over from elsewhere passes with the blocks and is freed with them (the
  // leak checker of the sanitizer build sees it).
  NodeArena taker;
  StringBuffer text;
  text.Append("payload");
  taker.AdoptStorage(text.TakeStorage(), 7);
  EXPECT_TRUE(text.empty());
  EXPECT_EQ(taker.BytesHeld(), 7u);
  arena.Adopt(taker);
  EXPECT_EQ(arena.BytesHeld(), held + 7);
  EXPECT_EQ(taker.BytesHeld(), 0u);
}

TEST(LogBase, RecordIsBounded) {
  std::string xml = "<a>";
  for (int i = 0; i < 2000; ++i) xml += "<b></b <";
  XmlDocument document;
  ASSERT_TRUE(document.LoadXml(xml, true));
  EXPECT_LE(document.log().entries().size(), LogBase::kMaxEntries);
  EXPECT_TRUE(document.log().Contains("Error in closing tag"));
}

}  // namespace
}  // namespace vemtu::packing
