// The Windows build's cipher key under wine, which shows a file's Unix owner and mode as
// its owner and access list: a key folder that others may write, or a folder or key of
// another user, is refused.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

#include "check_scenario.h"

namespace vemtu::test {
namespace {

TEST(KeyFolder, AKeyOrFolderThatAnotherUserOwnsOrMayWriteIsRefused) {
  if (!UnderWine()) GTEST_SKIP() << "the Windows key store; the Linux one checks the key's mode";
  const bool root = geteuid() == 0;
  struct Case {
    const char* spoiled;  // "keys" or "keys/cipher.key"
    bool chown_other;     // else: made writable by all
  } cases[] = {{"keys", false}, {"keys", true}, {"keys/cipher.key", true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.spoiled);
    if (c.chown_other && !root) continue;
    TempDir dir;
    setenv("VEMTU_CIPHER_KEY", ("Z:" + (dir / "keys/cipher.key")).c_str(), 1);
    const std::string cipher = BuiltTool("vemtu-cipher");
    ASSERT_EQ(RunTool(cipher, {"encrypt", "user"}, dir.path().string()).exit_code, 0);
    const std::string spoiled = dir / c.spoiled;
    ASSERT_EQ(c.chown_other ? chown(spoiled.c_str(), 54321, 54321) : chmod(spoiled.c_str(), 0777), 0);
    CheckRun refused = RunTool(cipher, {"encrypt", "user"}, dir.path().string());
    EXPECT_NE(refused.exit_code, 0) << refused.out;
    EXPECT_NE(refused.out.find("may be changed by, another user"), std::string::npos) << refused.out;
  }
  unsetenv("VEMTU_CIPHER_KEY");
}

}  // namespace
}  // namespace vemtu::test
