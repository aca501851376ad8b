// The cipher key of the Windows build under wine: a key folder that others may write, or
// a folder or key that another user owns, is refused (wine shows a file's Unix owner and
// mode as its owner and access list).
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "check_scenario.h"

namespace vemtu::test {
namespace {

namespace fs = std::filesystem;

constexpr uid_t kOtherUser = 54321;

TEST(KeyFolder, AKeyOrFolderThatAnotherUserOwnsOrMayWriteIsRefused) {
  if (!UnderWine()) GTEST_SKIP() << "the Windows key store; the Linux one checks the key's mode";
  struct Case {
    const char* what;
    bool needs_root;
    void (*spoil)(const std::string& folder, const std::string& key);
  } cases[] = {
      {"a folder others may write", false,
       [](const std::string& folder, const std::string&) { chmod(folder.c_str(), 0777); }},
      {"a folder of another user", true,
       [](const std::string& folder, const std::string&) {
         ASSERT_EQ(chown(folder.c_str(), kOtherUser, kOtherUser), 0);
       }},
      {"a key of another user", true,
       [](const std::string&, const std::string& key) {
         ASSERT_EQ(chown(key.c_str(), kOtherUser, kOtherUser), 0);
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    if (c.needs_root && geteuid() != 0) continue;
    TempDir dir;
    const std::string folder = dir / "keys";
    const std::string key = folder + "/cipher.key";
    setenv("VEMTU_CIPHER_KEY", ("Z:" + key).c_str(), 1);
    const std::string cipher = BuiltTool("vemtu-cipher");
    CheckRun made = RunTool(cipher, {"encrypt", "user"}, dir.path().string());
    ASSERT_EQ(made.exit_code, 0) << made.out;
    c.spoil(folder, key);
    CheckRun refused = RunTool(cipher, {"encrypt", "user"}, dir.path().string());
    EXPECT_NE(refused.exit_code, 0) << refused.out;
    EXPECT_NE(refused.out.find("belongs to, or may be changed by, another user"), std::string::npos)
        << refused.out;
  }
  unsetenv("VEMTU_CIPHER_KEY");
}

}  // namespace
}  // namespace vemtu::test
