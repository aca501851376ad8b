#include "platform/files.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "support/test_files.h"

namespace vemtu::platform {
namespace {

namespace fs = std::filesystem;

TEST(Files, AttributesToNormalTellsMissingFilesAndClearsReadOnly) {
  test::TempDir dir;
  EXPECT_FALSE(SetAttributesNormal(dir / "missing.txt"));

  std::string path = dir / "locked.txt";
  test::WriteFileBytes(path, "x");
  fs::permissions(path, fs::perms::owner_write | fs::perms::group_write |
                            fs::perms::others_write, fs::perm_options::remove);
  ASSERT_TRUE(SetAttributesNormal(path));
  EXPECT_NE(fs::status(path).permissions() & fs::perms::owner_write, fs::perms::none);
}

TEST(Files, CreatesOneFolderOnly) {
  test::TempDir dir;
  EXPECT_TRUE(CreateFolder(dir / "one"));
  EXPECT_TRUE(IsFolder(dir / "one"));
  EXPECT_FALSE(CreateFolder(dir / "one"));           // exists already
  EXPECT_FALSE(CreateFolder(dir / "two/three"));     // parent missing
  EXPECT_FALSE(fs::exists(dir.path() / "two"));
  test::WriteFileBytes(dir.path() / "file", "x");
  EXPECT_FALSE(IsFolder(dir / "file"));
  EXPECT_FALSE(IsFolder(dir / "nothing"));
}

TEST(Files, MoveNeverReplacesTheTargetAndDeleteRemovesFilesOnly) {
  test::TempDir dir;
  test::WriteFileBytes(dir.path() / "from", "new");
  test::WriteFileBytes(dir.path() / "to", "old and longer");
  EXPECT_EQ(MoveNoReplace(dir / "from", dir / "to"), MoveOutcome::kExists);
  EXPECT_EQ(test::ReadFileBytes(dir.path() / "to"), "old and longer");
  EXPECT_EQ(MoveToFreeName(dir / "from", dir / "to", 400), dir / "to.1");
  EXPECT_FALSE(fs::exists(dir.path() / "from"));
  EXPECT_EQ(test::ReadFileBytes(dir.path() / "to.1"), "new");
  EXPECT_EQ(MoveNoReplace(dir / "from", dir / "again"), MoveOutcome::kFailed);
  ASSERT_TRUE(fs::remove(dir.path() / "to.1"));

  EXPECT_TRUE(DeleteFileAt(dir / "to"));
  EXPECT_FALSE(fs::exists(dir.path() / "to"));
  EXPECT_FALSE(DeleteFileAt(dir / "to"));
  fs::create_directory(dir.path() / "folder");
  EXPECT_FALSE(DeleteFileAt(dir / "folder"));
  EXPECT_TRUE(fs::exists(dir.path() / "folder"));
}

TEST(Files, OpenModesReadWriteSeekAndSize) {
  test::TempDir dir;
  std::string path = dir / "data.bin";
  EXPECT_FALSE(File::Open(path, OpenMode::kReadExisting).IsOpen());
  EXPECT_FALSE(File::Open(path, OpenMode::kReadWriteExisting).IsOpen());
  EXPECT_FALSE(File::Open(dir / "no/such/folder.bin", OpenMode::kReadWriteAlways).IsOpen());
  EXPECT_FALSE(File::Open(dir.path().string(), OpenMode::kReadExisting).IsOpen());

  {
    File file = File::Open(path, OpenMode::kReadWriteAlways);
    ASSERT_TRUE(file.IsOpen());
    EXPECT_EQ(file.Size(), 0);
    ASSERT_TRUE(file.Write("hello", 5));
  }
  {
    File file = File::Open(path, OpenMode::kReadWriteExisting);
    ASSERT_TRUE(file.SeekToEnd());
    ASSERT_TRUE(file.Write(" world", 6));
    EXPECT_EQ(file.Size(), 11);
    ASSERT_TRUE(file.SeekTo(6));
    char buffer[16] = {};
    EXPECT_EQ(file.Read(buffer, sizeof buffer), 5);
    EXPECT_EQ(std::string(buffer, 5), "world");
    EXPECT_EQ(file.Read(buffer, sizeof buffer), 0);
  }
  EXPECT_EQ(test::ReadFileBytes(path), "hello world");

  File truncating = File::Open(path, OpenMode::kWriteTruncate);
  ASSERT_TRUE(truncating.IsOpen());
  EXPECT_EQ(truncating.Size(), 0);
  File moved = std::move(truncating);
  EXPECT_FALSE(truncating.IsOpen());
  ASSERT_TRUE(moved.Write("ab", 2));
  moved = File();  // move-assignment closes the handle it held
  moved = File::Open(path, OpenMode::kReadExisting);
  ASSERT_TRUE(moved.IsOpen());
  char buffer[4] = {};
  EXPECT_EQ(moved.Read(buffer, sizeof buffer), 2);
  moved.Close();
  EXPECT_EQ(moved.Read(buffer, sizeof buffer), -1);
  EXPECT_FALSE(moved.Write("x", 1));
  EXPECT_EQ(moved.Size(), -1);
}

// A new file is made only where the name is free: an existing file, folder or link of the
// name is never opened through. What was written is read back from the same handle, and
// the file can be deleted while it is open (as a posted copy is).
TEST(Files, CreateNewMakesOnlyAFileOfAFreeName) {
  test::TempDir dir;
  test::WriteFileBytes(dir / "taken.zip", "a writer's bytes");
  fs::create_directory(dir / "folder.zip");
  for (const char* name : {"taken.zip", "folder.zip"}) {
    EXPECT_FALSE(File::Open(dir / name, OpenMode::kCreateNew).IsOpen()) << name;
  }
  EXPECT_EQ(test::ReadFileBytes(dir / "taken.zip"), "a writer's bytes");
  std::error_code no_links;
  fs::create_symlink(dir / "nowhere", dir / "dangling.zip", no_links);
  if (!no_links) EXPECT_FALSE(File::Open(dir / "dangling.zip", OpenMode::kCreateNew).IsOpen());
  EXPECT_FALSE(fs::exists(dir / "nowhere"));

  File made = File::Open(dir / "new.zip", OpenMode::kCreateNew);
  ASSERT_TRUE(made.IsOpen());
  ASSERT_TRUE(made.Write("packed", 6));
  char buffer[8] = {};
  EXPECT_EQ(made.ReadAt(buffer, sizeof buffer, 0), 6);
  EXPECT_EQ(std::string(buffer, 6), "packed");
  EXPECT_EQ(made.Identity().size, 6u);
  EXPECT_TRUE(DeleteFileAt(dir / "new.zip"));
}

// ReadAt reads where it is told, whoever else reads the file; a duplicate keeps the
// identity taken at the open and outlives the handle it came from.
TEST(Files, ReadAtAndDuplicatesServeOneOpenFile) {
  test::TempDir dir;
  std::string path = dir / "held.bin";
  test::WriteFileBytes(path, "0123456789");
  File held = File::Open(path, OpenMode::kReadExisting);
  ASSERT_TRUE(held.IsOpen());
  EXPECT_EQ(held.IdentityAtOpen(), IdentityAt(path));
  EXPECT_EQ(held.IdentityAtOpen().links, 1u);
  EXPECT_EQ(held.SizeAtOpen(), 10);

  File copy = held.Duplicate();
  held.Close();
  ASSERT_TRUE(copy.IsOpen());
  EXPECT_EQ(copy.IdentityAtOpen(), IdentityAt(path));
  const struct {
    std::uint64_t offset;
    std::size_t size;
    const char* expected;
  } reads[] = {{0, 4, "0123"}, {6, 16, "6789"}, {10, 4, ""}, {2, 3, "234"}};
  for (const auto& read : reads) {
    char buffer[16] = {};
    long long got = copy.ReadAt(buffer, read.size, read.offset);
    EXPECT_EQ(std::string(buffer, got > 0 ? static_cast<std::size_t>(got) : 0), read.expected)
        << "at " << read.offset;
  }
  char buffer[4] = {};
  copy.Close();
  EXPECT_EQ(copy.ReadAt(buffer, sizeof buffer, 0), -1);
  EXPECT_FALSE(copy.Duplicate().IsOpen());
}

}  // namespace
}  // namespace vemtu::platform
