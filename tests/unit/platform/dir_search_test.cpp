#include "platform/dir_search.h"

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>

#include "platform/paths.h"
#include "support/test_files.h"

namespace vemtu::platform {
namespace {

// Names that are their own 8.3 short names, so that listings agree on every system.
class DirSearchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* name : {"a.txt", "b.tx", "c.xml", "E.TXT", "plain", "x_N_y.xml",
                             "x_Y_y.xml"}) {
      test::WriteFileBytes(dir_.path() / name, "12345");
    }
    std::filesystem::create_directory(dir_.path() / "sub");
  }

  std::string Pattern(const std::string& pattern) const {
    return dir_.path().string() + kPathSeparator + pattern;
  }

  // Every name the search returns, with whether it was reported as a folder.
  std::map<std::string, bool> List(const std::string& pattern) {
    std::map<std::string, bool> found;
    DirSearch search;
    DirEntry entry;
    for (SearchStep step = search.First(Pattern(pattern), entry); step == SearchStep::kEntry;
         step = search.Next(entry)) {
      found[entry.name] = entry.is_directory;
      if (!entry.is_directory) {
        EXPECT_EQ(entry.size, 5u) << entry.name;
      }
    }
    return found;
  }

  std::set<std::string> Names(const std::string& pattern) {
    std::set<std::string> names;
    for (const auto& [name, is_directory] : List(pattern)) names.insert(name);
    return names;
  }

  test::TempDir dir_;
};

TEST_F(DirSearchTest, FindsWhatThePatternMatches) {
  using Set = std::set<std::string>;
  EXPECT_EQ(Names("*.txt?"), (Set{"a.txt", "E.TXT"}));
  EXPECT_EQ(Names("?.tx?"), (Set{"a.txt", "b.tx", "E.TXT"}));
  EXPECT_EQ(Names("*_N_*.xml?"), (Set{"x_N_y.xml"}));
  EXPECT_EQ(Names("*.XML"), (Set{"c.xml", "x_N_y.xml", "x_Y_y.xml"}));
  EXPECT_EQ(Names("*.*"), (Set{".", "..", "a.txt", "b.tx", "c.xml", "E.TXT", "plain",
                               "sub", "x_N_y.xml", "x_Y_y.xml"}));
}

TEST_F(DirSearchTest, ReportsFoldersAsSuch) {
  auto found = List("*");
  ASSERT_EQ(found.count("sub"), 1u);
  EXPECT_TRUE(found["sub"]);
  EXPECT_TRUE(found["."]);
  EXPECT_FALSE(found["plain"]);
}

TEST_F(DirSearchTest, TellsNoMatchFromFailure) {
  DirSearch search;
  DirEntry entry;
  EXPECT_EQ(search.First(Pattern("*.none"), entry), SearchStep::kNoMore);
  EXPECT_EQ(search.First(Pattern("missing") + kPathSeparator + "*.*", entry),
            SearchStep::kFailed);

  DirSearch unused;
  EXPECT_EQ(unused.Next(entry), SearchStep::kFailed);

  ASSERT_EQ(search.First(Pattern("plain"), entry), SearchStep::kEntry);
  EXPECT_EQ(entry.name, "plain");
  EXPECT_EQ(search.Next(entry), SearchStep::kNoMore);
  DirSearch moved = std::move(search);
  EXPECT_EQ(moved.Next(entry), SearchStep::kNoMore);
}

}  // namespace
}  // namespace vemtu::platform
