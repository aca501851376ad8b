#include "posting/routing_table.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "common/fixed_text.h"

namespace vemtu {
namespace {

// A 788-byte record with every field set through its byte offset.
std::string Record(const std::string& name, const std::string& url1, const std::string& url2,
                   int pr, int ig, int del) {
  std::string bytes(kRoutingRecordSize, '\0');
  bytes.replace(0, name.size(), name);
  bytes.replace(255, url1.size(), url1);
  bytes.replace(515, url2.size(), url2);
  auto put32 = [&bytes](std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
  };
  put32(776, static_cast<std::uint32_t>(pr));
  put32(780, static_cast<std::uint32_t>(ig));
  put32(784, static_cast<std::uint32_t>(del));
  return bytes;
}

RoutingEntry FromBytes(const std::string& bytes) {
  return RoutingEntryFromRecord(reinterpret_cast<const unsigned char*>(bytes.data()),
                                bytes.size());
}

RoutingEntry Named(const char* name, int ig = 0) {
  RoutingEntry entry = EmptyRoutingEntry();
  CopyCapped(entry.name, sizeof entry.name, name);
  entry.ig = ig;
  return entry;
}

TEST(RoutingEntry, RecordFieldsSitAtTheirOffsets) {
  EXPECT_EQ(sizeof(RoutingEntry), 788u);
  EXPECT_EQ(offsetof(RoutingEntry, url1), 255u);
  EXPECT_EQ(offsetof(RoutingEntry, url2), 515u);
  EXPECT_EQ(offsetof(RoutingEntry, pr), 776u);
  EXPECT_EQ(offsetof(RoutingEntry, ig), 780u);
  EXPECT_EQ(offsetof(RoutingEntry, del), 784u);

  RoutingEntry entry = FromBytes(Record("abc", "http://u1", "http://u2", 1, 0x01020304, -1));
  EXPECT_STREQ(entry.name, "abc");
  EXPECT_STREQ(entry.url1, "http://u1");
  EXPECT_STREQ(entry.url2, "http://u2");
  EXPECT_EQ(entry.pr, 1);
  EXPECT_EQ(entry.ig, 0x01020304);  // little-endian
  EXPECT_EQ(entry.del, -1);
}

TEST(RoutingEntry, UnterminatedTextsAndShortRecordsStayInBounds) {
  std::string bytes(kRoutingRecordSize, 'z');  // no zero byte anywhere
  RoutingEntry entry = FromBytes(bytes);
  EXPECT_EQ(std::strlen(entry.name), 254u);
  EXPECT_EQ(std::strlen(entry.url1), 259u);
  EXPECT_EQ(std::strlen(entry.url2), 259u);

  RoutingEntry partial = FromBytes(Record("partial", "u", "", 0, 1, 0).substr(0, 300));
  EXPECT_STREQ(partial.name, "partial");
  EXPECT_STREQ(partial.url1, "u");
  EXPECT_EQ(partial.ig, 0);  // beyond the bytes read: zero
}

TEST(RoutingTable, LooksNamesUpWithoutCaseAndKeepsTheFirstEntry) {
  RoutingTable table;
  EXPECT_TRUE(table.InsertRoutingEntry(Named("abc", 1)));
  EXPECT_FALSE(table.InsertRoutingEntry(Named("ABC", 0)));
  EXPECT_TRUE(table.InsertRoutingEntry(Named("abd")));
  EXPECT_EQ(table.size(), 2u);
  for (const char* probe : {"abc", "ABC", "Abc"}) {
    const RoutingEntry* found = table.FindRoutingEntry(probe);
    ASSERT_NE(found, nullptr) << probe;
    EXPECT_STREQ(found->name, "abc");
    EXPECT_EQ(found->ig, 1);
  }
  EXPECT_EQ(table.FindRoutingEntry("ab"), nullptr);
  EXPECT_EQ(table.FindRoutingEntry("abcd"), nullptr);
  EXPECT_EQ(table.FindRoutingEntry(""), nullptr);
}

TEST(RoutingTable, PriorityQueueIsFirstInFirstOutWithRepeats) {
  RoutingTable table;
  std::string name;
  EXPECT_FALSE(table.PopPriorityName(name));
  table.PushPriorityName("b");
  table.PushPriorityName("a");
  table.PushPriorityName("b");
  table.PushPriorityName(std::string(400, 'q'));
  for (const std::string expected : {"b", "a", "b"}) {
    ASSERT_TRUE(table.PopPriorityName(name));
    EXPECT_EQ(name, expected);
  }
  ASSERT_TRUE(table.PopPriorityName(name));
  EXPECT_EQ(name, std::string(259, 'q'));
  EXPECT_FALSE(table.PopPriorityName(name));
}

}  // namespace
}  // namespace vemtu
