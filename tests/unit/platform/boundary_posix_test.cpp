// The file layer never follows a link, never waits on a special file, and never replaces
// a file it was not told to: links, FIFOs and devices made with the Linux calls.
#include <errno.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>

#include "platform/dir_search.h"
#include "platform/errors.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "platform/profile.h"
#include "support/test_files.h"

namespace vemtu::platform {
namespace {

namespace fs = std::filesystem;
using test::ReadFileBytes;
using test::TempDir;
using test::WriteFileBytes;

mode_t ModeOf(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0 ? st.st_mode : 0;
}

// A folder with an "outside" file and folder, and links to them inside "in".
struct LinkedFolder {
  TempDir dir;
  std::string outside_file = dir / "outside.txt";
  std::string outside_folder = dir / "outside";
  std::string in = dir / "in";
  std::string file_link = in + "/link.txt";
  std::string folder_link = in + "/linked";

  LinkedFolder() {
    WriteFileBytes(outside_file, "outside");
    fs::permissions(outside_file, fs::perms::owner_read);
    fs::create_directories(outside_folder);
    fs::create_directories(in);
    fs::create_symlink(outside_file, file_link);
    fs::create_symlink(outside_folder, folder_link);
  }
};

TEST(NoLinkFollowed, OpensAttributesAndFolderChecksRefuseALink) {
  LinkedFolder f;
  for (OpenMode mode : {OpenMode::kReadExisting, OpenMode::kReadWriteExisting,
                        OpenMode::kReadWriteAlways, OpenMode::kWriteTruncate,
                        OpenMode::kWriteTruncateUnshared, OpenMode::kAppendAlways}) {
    EXPECT_FALSE(File::Open(f.file_link, mode).IsOpen()) << static_cast<int>(mode);
    // A file made inside a linked folder would be made outside.
    EXPECT_FALSE(File::Open(f.folder_link + "/new.txt", mode).IsOpen()) << static_cast<int>(mode);
  }
  EXPECT_FALSE(SetAttributesNormal(f.file_link));
  EXPECT_EQ(ModeOf(f.outside_file) & 0777, static_cast<mode_t>(S_IRUSR));
  EXPECT_EQ(ReadFileBytes(f.outside_file), "outside");
  EXPECT_TRUE(fs::is_empty(f.outside_folder));
  EXPECT_FALSE(IsFolder(f.folder_link));
  EXPECT_TRUE(IsFolder(f.in));
  EXPECT_FALSE(IdentityAt(f.file_link).valid);
  // The link itself can be deleted; what it points to stays.
  EXPECT_TRUE(DeleteFileAt(f.file_link));
  EXPECT_TRUE(fs::exists(f.outside_file));
}

TEST(NoLinkFollowed, ALinkFurtherUpThePathIsRefusedToo) {
  LinkedFolder f;
  fs::create_directories(f.outside_folder + "/WebPost/WebPostExe");
  // "in/linked" is a link; the file would be made two folders below it, outside.
  const std::string deep = f.folder_link + "/WebPost/WebPostExe";
  for (OpenMode mode : {OpenMode::kReadWriteAlways, OpenMode::kWriteTruncate,
                        OpenMode::kWriteTruncateUnshared, OpenMode::kAppendAlways}) {
    EXPECT_FALSE(File::Open(deep + "/WebPostStatus.log", mode).IsOpen()) << static_cast<int>(mode);
  }
  WriteFileBytes(f.in + "/a.txt", "a");
  EXPECT_EQ(MoveNoReplace(f.in + "/a.txt", deep + "/a.txt"), MoveOutcome::kFailed);
  EXPECT_TRUE(fs::is_empty(f.outside_folder + "/WebPost/WebPostExe"));
  // A plain path of the same depth is written as usual.
  fs::create_directories(f.in + "/WebPost/WebPostExe");
  EXPECT_TRUE(File::Open(f.in + "/WebPost/WebPostExe/x.log", OpenMode::kAppendAlways).IsOpen());
}

TEST(NoLinkFollowed, MovesIntoALinkedFolderFail) {
  LinkedFolder f;
  WriteFileBytes(f.in + "/a.txt", "a");
  EXPECT_EQ(MoveNoReplace(f.in + "/a.txt", f.folder_link + "/a.txt"), MoveOutcome::kFailed);
  EXPECT_EQ(MoveToFreeName(f.in + "/a.txt", f.folder_link + "/a.txt", 400), "");
  EXPECT_TRUE(fs::is_empty(f.outside_folder));
  EXPECT_EQ(ReadFileBytes(f.in + "/a.txt"), "a");
}

TEST(NoLinkFollowed, ListingShowsLinksAsLinksAndRefusesALinkedFolder) {
  LinkedFolder f;
  WriteFileBytes(f.outside_folder + "/x.zip", "x");
  WriteFileBytes(f.in + "/plain.zip", "p");
  DirSearch search;
  DirEntry entry;
  int links = 0, files = 0;
  for (SearchStep step = search.First(f.in + "/*", entry); step == SearchStep::kEntry;
       step = search.Next(entry)) {
    if (entry.name == "." || entry.name == "..") continue;
    EXPECT_FALSE(entry.is_directory) << entry.name;
    entry.is_link ? ++links : ++files;
  }
  EXPECT_EQ(links, 2);
  EXPECT_EQ(files, 1);
  DirSearch through_link;
  EXPECT_EQ(through_link.First(f.folder_link + "/*.zip", entry), SearchStep::kFailed);
}

TEST(NoLinkFollowed, ProfilesAreNeitherReadNorWrittenThroughALink) {
  LinkedFolder f;
  fs::permissions(f.outside_file, fs::perms::owner_read | fs::perms::owner_write);
  WriteFileBytes(f.outside_file, "[s]\r\nk=outside\r\n");
  EXPECT_EQ(GetProfileText(f.file_link, "s", "k", "default", 99), "default");
  EXPECT_FALSE(WriteProfileText(f.file_link, "s", "k", "changed"));
  EXPECT_FALSE(WriteProfileText(f.folder_link + "/new.INI", "s", "k", "made"));
  EXPECT_TRUE(fs::is_empty(f.outside_folder));
  EXPECT_EQ(ReadFileBytes(f.outside_file), "[s]\r\nk=outside\r\n");
}

TEST(SpecialFiles, FifosAndDevicesReadAsMissingWithoutWaiting) {
  TempDir dir;
  const std::string fifo = dir / "fifo";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0666), 0);
  const std::string zero = dir / "zero";
  fs::create_symlink("/dev/zero", zero);
  const auto started = std::chrono::steady_clock::now();
  for (OpenMode mode : {OpenMode::kReadExisting, OpenMode::kReadWriteExisting,
                        OpenMode::kReadWriteAlways, OpenMode::kAppendAlways}) {
    EXPECT_FALSE(File::Open(fifo, mode).IsOpen()) << static_cast<int>(mode);
    EXPECT_FALSE(File::Open(zero, mode).IsOpen()) << static_cast<int>(mode);
    EXPECT_FALSE(File::Open("/dev/null", mode).IsOpen()) << static_cast<int>(mode);
  }
  EXPECT_EQ(GetProfileText(fifo, "s", "k", "default", 99), "default");
  EXPECT_EQ(GetProfileInt(fifo, "s", "k", 7), 7);
  EXPECT_FALSE(WriteProfileText(fifo, "s", "k", "v"));
  EXPECT_FALSE(SetAttributesNormal(fifo));
  EXPECT_FALSE(IdentityAt(fifo).valid);
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));
}

TEST(SpecialFiles, AProfileLockHeldByAnotherIsNotWaitedForForever) {
  TempDir dir;
  const std::string ini = dir / "a.INI";
  WriteFileBytes(ini, "[s]\r\nk=v\r\n");
  // An exclusive lock through another open file description, as another process would.
  FILE* other = std::fopen(ini.c_str(), "r");
  ASSERT_NE(other, nullptr);
  ASSERT_EQ(flock(fileno(other), LOCK_EX), 0);
  const auto started = std::chrono::steady_clock::now();
  EXPECT_EQ(GetProfileText(ini, "s", "k", "default", 99), "v");
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(30));
  std::fclose(other);
}

TEST(NoReplace, MoveNoReplaceKeepsTheExistingFileAndFreeNamesCount) {
  TempDir dir;
  WriteFileBytes(dir / "a", "new");
  WriteFileBytes(dir / "b", "old");
  EXPECT_EQ(MoveNoReplace(dir / "a", dir / "b"), MoveOutcome::kExists);
  EXPECT_EQ(ReadFileBytes(dir / "b"), "old");
  EXPECT_EQ(ReadFileBytes(dir / "a"), "new");

  WriteFileBytes(dir / "b.1", "older");
  EXPECT_EQ(MoveToFreeName(dir / "a", dir / "b", 400), dir / "b.2");
  EXPECT_EQ(ReadFileBytes(dir / "b"), "old");
  EXPECT_EQ(ReadFileBytes(dir / "b.1"), "older");
  EXPECT_EQ(ReadFileBytes(dir / "b.2"), "new");

  WriteFileBytes(dir / "c", "c");
  EXPECT_EQ(MoveToFreeName(dir / "c", dir / "d", 400), dir / "d");
  // A free name past the length limit is not used: the file stays.
  WriteFileBytes(dir / "e", "e");
  const std::string planned = dir / "b";
  EXPECT_EQ(MoveToFreeName(dir / "e", planned, planned.size() + 1), "");
  EXPECT_EQ(ReadFileBytes(dir / "e"), "e");
  EXPECT_EQ(MoveToFreeName(dir / "missing", dir / "f", 400), "");
}

TEST(Identity, DeleteIfUnchangedKeepsAFileThatChanged) {
  TempDir dir;
  const std::string path = dir / "r.txt";
  WriteFileBytes(path, "body");
  FileIdentity sent = IdentityAt(path);
  ASSERT_TRUE(sent.valid);
  {
    File open = File::Open(path, OpenMode::kReadExisting);
    EXPECT_EQ(open.Identity(), sent);
  }
  // Appended to, rewritten with the same size, or replaced by another file: kept.
  {
    File append = File::Open(path, OpenMode::kAppendAlways);
    ASSERT_TRUE(append.Write("+", 1));
  }
  EXPECT_FALSE(DeleteIfUnchanged(path, sent));
  EXPECT_TRUE(fs::exists(path));

  sent = IdentityAt(path);
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  WriteFileBytes(path, "BODY+");
  EXPECT_FALSE(DeleteIfUnchanged(path, sent));

  sent = IdentityAt(path);
  WriteFileBytes(dir / "other", "BODY+");
  fs::rename(dir / "other", path);
  EXPECT_FALSE(DeleteIfUnchanged(path, sent));
  EXPECT_EQ(ReadFileBytes(path), "BODY+");

  // A file planted at the private name the delete moves through is neither deleted nor
  // replaced, and nothing but the deleted file is missing afterwards.
  const std::string planted = dir / (".vemtu-deleting-" + std::to_string(getpid()));
  WriteFileBytes(planted, "planted");
  sent = IdentityAt(path);
  EXPECT_TRUE(DeleteIfUnchanged(path, sent));
  EXPECT_FALSE(fs::exists(path));
  EXPECT_FALSE(DeleteIfUnchanged(path, sent));
  EXPECT_EQ(ReadFileBytes(planted), "planted");
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 1);
}

TEST(Names, ABackslashInALinuxNameIsAnOrdinaryByte) {
  TempDir dir;
  const std::string name = "..\\..\\x\\T_Y_1.xml";
  WriteFileBytes(dir.path() / name, "crafted");
  DirSearch search;
  DirEntry entry;
  ASSERT_EQ(search.First(dir / "*_Y_*", entry), SearchStep::kEntry);
  EXPECT_EQ(entry.name, name);
  EXPECT_EQ(OwnSeparators(dir / name), dir / name);
  File file = File::Open(dir / "..\\..\\x\\T_Y_1.zip", OpenMode::kWriteTruncate);
  ASSERT_TRUE(file.IsOpen());
  EXPECT_TRUE(fs::exists(dir.path() / "..\\..\\x\\T_Y_1.zip"));
}

}  // namespace
}  // namespace vemtu::platform
