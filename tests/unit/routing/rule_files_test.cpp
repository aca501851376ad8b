#include "posting/rule_files.h"

#include <gtest/gtest.h>

#include <cctype>
#include <string>
#include <vector>

#include "common/fixed_text.h"
#include "platform/paths.h"
#include "posting/post_database.h"
#include "posting/routing_load.h"
#include "support/test_files.h"

namespace vemtu {
namespace {

using test::TempDir;
using test::WriteFileBytes;

std::string In(const TempDir& dir, const char* fixed_relative) {
  return dir.path().string() + platform::NativePath(fixed_relative);
}

std::string RecordNamed(const std::string& name, int ig) {
  std::string bytes(kRoutingRecordSize, '\0');
  bytes.replace(0, name.size(), name);
  bytes[780] = static_cast<char>(ig);
  return bytes;
}

std::vector<std::string> DrainQueue(RoutingTable& table) {
  std::vector<std::string> names;
  for (std::string name; table.PopPriorityName(name);) names.push_back(name);
  return names;
}

// ---- Post database ---------------------------------------------------------------

TEST(ReadPostDatabase, AddsTheAllZeroEntryAfterTheRecords) {
  TempDir dir;
  struct Case {
    std::string bytes;
    std::size_t entries;
  } cases[] = {
      {"", 1},                                                      // only the empty entry
      {RecordNamed("one", 1) + RecordNamed("two", 0), 3},           // 1576 bytes
      {RecordNamed("one", 1) + RecordNamed("ONE", 0), 2},           // first wins
      {RecordNamed("one", 0) + RecordNamed("cut", 0).substr(0, 10), 3},  // partial record
      {std::string(788 * 2 + 5, '\xff'), 3},  // junk: a repeated name, a partial one, empty
  };
  for (const Case& c : cases) {
    std::string path = In(dir, "\\WebPostDB_Status.bin");
    WriteFileBytes(path, c.bytes);
    RoutingTable table;
    ReadPostDatabase(table, path);
    EXPECT_EQ(table.size(), c.entries) << c.bytes.size();
    ASSERT_NE(table.FindRoutingEntry(""), nullptr);
  }
}

TEST(ReadPostDatabase, KeepsFlagsAndMatchesNamesWithoutCase) {
  TempDir dir;
  std::string path = In(dir, "\\db.bin");
  WriteFileBytes(path, RecordNamed("abc", 1) + RecordNamed("ABC", 0));
  RoutingTable table;
  ReadPostDatabase(table, path);
  const RoutingEntry* entry = table.FindRoutingEntry("Abc");
  ASSERT_NE(entry, nullptr);
  EXPECT_EQ(entry->ig, 1);

  RoutingTable untouched;
  ReadPostDatabase(untouched, In(dir, "\\missing.bin"));
  EXPECT_TRUE(untouched.empty());
}

// ---- Reprioritize.XML --------------------------------------------------------------

TEST(ReprioritizeRules, RecognisesOnlyExactMarkersInAnyCase) {
  RoutingTable table;
  std::string text = "<!-- <pr nm='inside'> --> <PR NM='Abc'/> <pr nm=\"dq\"/> <pr  nm='two'/>";
  std::string lowered = text;
  for (char& c : lowered) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  ApplyReprioritizeRules(table, lowered);
  EXPECT_EQ(DrainQueue(table), (std::vector<std::string>{"inside", "abc"}));
  ASSERT_NE(table.FindRoutingEntry("abc"), nullptr);
  EXPECT_EQ(table.FindRoutingEntry("abc")->pr, 1);
  EXPECT_EQ(table.FindRoutingEntry("dq"), nullptr);
  EXPECT_EQ(table.FindRoutingEntry("two"), nullptr);
}

TEST(ReprioritizeRules, FirstKindWinsButEveryPrNameIsQueued) {
  RoutingTable table;
  ApplyReprioritizeRules(table,
                         "<del nm='x'/><ig nm='x'/><pr nm='x'/><pr nm='x'/><ig nm='y'/>"
                         "<del nm='y'/><del nm='z'/><pr nm=''/>");
  EXPECT_EQ(table.FindRoutingEntry("x")->pr, 1);
  EXPECT_EQ(table.FindRoutingEntry("x")->ig, 0);
  EXPECT_EQ(table.FindRoutingEntry("y")->ig, 1);
  EXPECT_EQ(table.FindRoutingEntry("y")->del, 0);
  EXPECT_EQ(table.FindRoutingEntry("z")->del, 1);
  EXPECT_EQ(DrainQueue(table), (std::vector<std::string>{"x", "x", ""}));
}

TEST(ReprioritizeRules, AnUnclosedQuoteEndsOnlyItsOwnScan) {
  RoutingTable table;
  ApplyReprioritizeRules(table, "<ig nm='kept'/><pr nm='a'/><pr nm='open");
  EXPECT_EQ(DrainQueue(table), (std::vector<std::string>{"a"}));
  EXPECT_NE(table.FindRoutingEntry("kept"), nullptr);
  EXPECT_EQ(table.size(), 2u);
}

TEST(ReprioritizeRules, WithRulesOffOnlyQueuesNames) {
  RoutingTable table;
  table.set_rules_enabled(false);
  ApplyReprioritizeRules(table, "<pr nm='a'/><ig nm='b'/><del nm='c'/>");
  EXPECT_TRUE(table.empty());
  EXPECT_EQ(DrainQueue(table), (std::vector<std::string>{"a"}));
}

TEST(ReprioritizeRules, LongNamesAreCutAtTheirCapacities) {
  RoutingTable table;
  ApplyReprioritizeRules(table, "<pr nm='" + std::string(300, 'n') + "'/>");
  EXPECT_NE(table.FindRoutingEntry(std::string(254, 'n')), nullptr);
  EXPECT_EQ(DrainQueue(table), (std::vector<std::string>{std::string(259, 'n')}));
}

TEST(ReprioritizeRules, FileTextIsLoweredAndEndsAtAZeroByte) {
  TempDir dir;
  std::string path = In(dir, "\\Reprioritize.XML");
  WriteFileBytes(path, std::string("<PR NM='Up'/>\0<pr nm='hidden'/>", 31));
  RoutingTable table;
  ReadReprioritizeRules(table, path);
  EXPECT_EQ(DrainQueue(table), (std::vector<std::string>{"up"}));
}

// ---- DNSSpecific.XML ---------------------------------------------------------------

TEST(DnsSpecificRules, SetsUrlsOfExistingEntriesOnly) {
  struct Case {
    const char* list;
    const char* url1;
    const char* url2;
  } cases[] = {
      {"u1,u2", "u1", "u2"},
      {"u1", "u1", "old2"},  // no ",": url2 stays
      {",u2", "", "u2"},
      {"u1,", "u1", ""},
      {"u1,u2,u3", "u1", "u2"},
  };
  for (const Case& c : cases) {
    RoutingTable table;
    ApplyReprioritizeRules(table, "<pr nm='abc'/>");
    RoutingEntry* entry = table.FindRoutingEntryToChange("abc");
    CopyCapped(entry->url2, sizeof entry->url2, "old2");
    ApplyDnsSpecificRules(table, std::string("<wp name='abc' url='") + c.list + "'/>" +
                                     "<wp name='other' url='x,y'/>");
    EXPECT_STREQ(table.FindRoutingEntry("abc")->url1, c.url1) << c.list;
    EXPECT_STREQ(table.FindRoutingEntry("abc")->url2, c.url2) << c.list;
    EXPECT_EQ(table.FindRoutingEntry("other"), nullptr);
  }
}

TEST(DnsSpecificRules, DoesNothingWithRulesOffAndStopsAtUnclosedQuotes) {
  RoutingTable off;
  ApplyReprioritizeRules(off, "<pr nm='a'/>");
  off.set_rules_enabled(false);
  ApplyDnsSpecificRules(off, "<wp name='a' url='u1'/>");
  EXPECT_STREQ(off.FindRoutingEntry("a")->url1, "");

  RoutingTable table;
  ApplyReprioritizeRules(table, "<pr nm='a'/><pr nm='b'/>");
  ApplyDnsSpecificRules(table, "<wp name='a' url='ua'/><wp name='b' url='ub");
  EXPECT_STREQ(table.FindRoutingEntry("a")->url1, "ua");
  EXPECT_STREQ(table.FindRoutingEntry("b")->url1, "");

  // The URL is looked for after the name's closing quote, across other markers.
  ApplyDnsSpecificRules(table, "<wp name='b'/><wp name='a' url='late'/>");
  EXPECT_STREQ(table.FindRoutingEntry("b")->url1, "late");

  RoutingTable long_url;
  ApplyReprioritizeRules(long_url, "<pr nm='a'/>");
  ApplyDnsSpecificRules(long_url, "<wp name='a' url='" + std::string(500, 'u') + "'/>");
  EXPECT_EQ(std::string(long_url.FindRoutingEntry("a")->url1), std::string(259, 'u'));
}

// ---- LoadRoutingTable --------------------------------------------------------------

TEST(LoadRoutingTable, PostDatabaseWinsOverTheRuleFiles) {
  TempDir dir;
  std::string config = dir.path().string();
  WriteFileBytes(In(dir, "\\Reprioritize.XML"), "<pr nm='fromrules'/><ig nm='ign'/>");
  WriteFileBytes(In(dir, "\\DNSSpecific.XML"), "<wp name='fromrules' url='u1'/>");

  RoutingTable from_rules;
  EXPECT_EQ(LoadRoutingTable(from_rules, "status", config), RoutingLoad::kLoaded);
  EXPECT_TRUE(from_rules.rules_enabled());
  EXPECT_STREQ(from_rules.FindRoutingEntry("fromrules")->url1, "u1");
  EXPECT_NE(from_rules.FindRoutingEntry("ign"), nullptr);

  // An empty post database still counts: only its empty entry, and the rules are off.
  WriteFileBytes(In(dir, "\\WebPostDB_status.bin"), "");
  RoutingTable from_db;
  EXPECT_EQ(LoadRoutingTable(from_db, "status", config), RoutingLoad::kLoaded);
  EXPECT_FALSE(from_db.rules_enabled());
  EXPECT_EQ(from_db.size(), 1u);
  EXPECT_TRUE(DrainQueue(from_db).empty());
  EXPECT_EQ(from_db.FindRoutingEntry("fromrules"), nullptr);

  RoutingTable configuration;
  EXPECT_EQ(LoadRoutingTable(configuration, "Configuration", config), RoutingLoad::kNotLoaded);
  EXPECT_TRUE(configuration.empty());
}

TEST(PostDatabaseLockName, AtPostLogsSharesTheStatusLock) {
  EXPECT_EQ(PostDatabaseLockName("AlertTkt"), "WebPostDB_BIN_AlertTkt");
  EXPECT_EQ(PostDatabaseLockName("status"), "WebPostDB_BIN_Status");
  EXPECT_EQ(PostDatabaseLockName("ATPOSTLOGS"), "WebPostDB_BIN_Status");
  EXPECT_EQ(PostDatabaseLockName("Configuration"), "");
}

}  // namespace
}  // namespace vemtu
