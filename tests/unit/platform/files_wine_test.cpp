// Files as other handles see them (sharing while open, sizes beyond 32 bits), and
// listings with short names.
#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <set>
#include <string>

#include "platform/dir_search.h"
#include "platform/errors.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "support/test_files.h"

namespace vemtu::platform {
namespace {

bool OnWindows() { return kPathSeparator == '\\'; }

TEST(FileSharing, AnOpenFileCannotBeOpenedForWritingTwice) {
  if (!OnWindows()) GTEST_SKIP() << "Linux has no share modes";
  test::TempDir dir;
  std::string path = dir / "shared.log";
  File writer = File::Open(path, OpenMode::kReadWriteAlways);
  ASSERT_TRUE(writer.IsOpen());
  ASSERT_TRUE(writer.Write("abc", 3));

  File reader = File::Open(path, OpenMode::kReadExisting);
  // The reader shares reading only, which the writer's open handle already exceeds.
  EXPECT_FALSE(reader.IsOpen());
  File second = File::Open(path, OpenMode::kReadWriteAlways);
  EXPECT_FALSE(second.IsOpen());
  EXPECT_EQ(LastError(), 32);  // sharing violation
}

TEST(FileSharing, AnUnsharedWriteKeepsEveryReaderOut) {
  if (!OnWindows()) GTEST_SKIP() << "Linux has no share modes";
  test::TempDir dir;
  std::string path = dir / "packed.zip";
  // The C library's readers share writing, so only the writer's share mode decides.
  {
    File shared = File::Open(path, OpenMode::kWriteTruncate);
    ASSERT_TRUE(shared.IsOpen());
    ASSERT_TRUE(shared.Write("abc", 3));
    std::ifstream reader(path, std::ios::binary);
    EXPECT_TRUE(reader.is_open());
  }
  File unshared = File::Open(path, OpenMode::kWriteTruncateUnshared);
  ASSERT_TRUE(unshared.IsOpen());
  EXPECT_EQ(unshared.Size(), 0);
  std::ifstream reader(path, std::ios::binary);
  EXPECT_FALSE(reader.is_open());
  EXPECT_FALSE(File::Open(path, OpenMode::kReadExisting).IsOpen());
}

TEST(FileSize, SizesBeyondFourGigabytesKeepTheHighHalf) {
  test::TempDir dir;
  std::string path = dir / "big.bin";
  const std::uint64_t offset = (std::uint64_t{5} << 30) + 7;  // sparse: no blocks written
  {
    File file = File::Open(path, OpenMode::kWriteTruncate);
    ASSERT_TRUE(file.IsOpen());
    ASSERT_TRUE(file.SeekTo(offset));
    ASSERT_TRUE(file.Write("z", 1));
    EXPECT_EQ(file.Size(), static_cast<long long>(offset + 1));
  }
  DirSearch search;
  DirEntry entry;
  ASSERT_EQ(search.First(dir / "big.*", entry), SearchStep::kEntry);
  EXPECT_EQ(entry.name, "big.bin");
  EXPECT_FALSE(entry.is_directory);
  EXPECT_EQ(entry.size, offset + 1);
  EXPECT_EQ(search.Next(entry), SearchStep::kNoMore);
  EXPECT_TRUE(DeleteFileAt(path));
}

std::set<std::string> Listed(const std::string& folder_and_pattern) {
  std::set<std::string> names;
  DirSearch search;
  DirEntry entry;
  for (SearchStep step = search.First(folder_and_pattern, entry); step == SearchStep::kEntry;
       step = search.Next(entry)) {
    names.insert(entry.name);
  }
  return names;
}

TEST(DirSearchShortNames, TrailingQuestionMarkLosesNothingTheSystemFinds) {
  if (!OnWindows()) GTEST_SKIP() << "Linux names have no short forms";
  test::TempDir dir;
  for (const char* name : {"a.txt", "a.txt1", "a.txt12", "c.xmlx", "d.xml", "e.out"}) {
    test::WriteFileBytes(dir / name, "1");
  }
  // The system also matches the short names ("a.txt12" is "A~1.TXT"), so a pattern with
  // a trailing '?' lists at least what the pattern without it lists, plus the names
  // with one more character.
  for (const char* stem : {"*.txt", "*.xml"}) {
    SCOPED_TRACE(stem);
    std::set<std::string> without = Listed(dir / stem);
    std::set<std::string> with = Listed(dir / (std::string(stem) + "?"));
    for (const std::string& name : without) EXPECT_EQ(with.count(name), 1u) << name;
    EXPECT_EQ(with.count("e.out"), 0u);
  }
  EXPECT_EQ(Listed(dir / "*.txt?").count("a.txt"), 1u);
  EXPECT_EQ(Listed(dir / "*.txt?").count("a.txt1"), 1u);
  EXPECT_EQ(Listed(dir / "*.xml?").count("d.xml"), 1u);
}

}  // namespace
}  // namespace vemtu::platform
