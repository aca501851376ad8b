// Lock stores that another user prepared, or holds, before a run as root takes its first
// lock. Each case runs this program again as a probe in a private mount namespace with
// its own /run and /dev/shm, so that nothing of the machine's own locks is touched.
#include <errno.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/named_mutex.h"
#include "platform/paths.h"
#include "platform/posix/named_mutex_store.h"
#include "support/agent_runner.h"

namespace vemtu::platform {
namespace {

constexpr char kProbeVariable[] = "VEMTU_LOCK_PROBE";
constexpr char kLock[] = "vemtu-squat-probe";

// Started as a probe (the variable names a lock), the program opens and takes that lock,
// prints what happened and ends before any test runs.
const bool kStartedAsProbe = [] {
  const char* name = std::getenv(kProbeVariable);
  if (!name) return false;
  NamedMutex mutex = NamedMutex::Create(name);
  const int error = mutex.IsValid() ? 0 : errno;
  const WaitResult result = mutex.IsValid() ? mutex.Wait(5000) : WaitResult::kFailed;
  std::printf("probe valid=%d error=%d wait=%s\n", mutex.IsValid() ? 1 : 0, error,
              Describe(result));
  std::fflush(stdout);
  _exit(0);
}();

std::string Quoted(const std::string& text) { return "'" + text + "'"; }

// A copy of this program in an agent folder of the user nobody, run as nobody.
constexpr char kOwnAgent[] =
    "mkdir /dev/shm/own && cp \"$0\" /dev/shm/own/probe && chown -R nobody /dev/shm/own && "
    "PROBE=\"runuser -u nobody -- /dev/shm/own/probe\"";
constexpr char kOwnStore[] = "/dev/shm/own/Configuration/WebPost/Locks";

// Runs `setup` and then the probe (as root, unless the setup sets PROBE) in a namespace
// of their own; what they print, and then the rights of kOwnStore when there is one.
std::string ProbeAfter(const std::string& setup) {
  const std::string script =
      "mount --make-rprivate / && mount -t tmpfs -o mode=755 tmpfs /run && "
      "mount -t tmpfs -o mode=1777 tmpfs /dev/shm && " + setup + " && " + kProbeVariable +
      "=" + kLock + " ${PROBE:-$0}; stat -c \"store=%A %U\" " + kOwnStore + " 2>/dev/null";
  const std::string command =
      "timeout 20 unshare -m sh -c " + Quoted(script) + " " + Quoted(ExecutablePath()) + " 2>&1";
  return test::CaptureCommand(command).out;
}

TEST(NamedMutexSquats, LocksPreparedOrHeldByAnotherUserNeitherHangNorServeARun) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to mount a /run of its own";
  if (std::system("unshare -m true 2>/dev/null") != 0) {
    GTEST_SKIP() << "unshare -m is refused here: no namespace of its own for the squats";
  }
  const std::string table =
      "/run/vemtu/" + named_mutex_detail::TableName(
                          named_mutex_detail::RightsForFolder(ExecutablePath().substr(
                              0, ExecutablePath().rfind('/'))));
  const std::string size = std::to_string(sizeof(named_mutex_detail::LockTable));
  char old_name[96];
  std::snprintf(old_name, sizeof old_name, "/dev/shm/vemtu2-%s-%016llx", kLock,
                static_cast<unsigned long long>(named_mutex_detail::KeyOf(kLock).hash));
  const std::string refused = "probe valid=0 error=13 ";
  const std::string taken = "probe valid=1 error=0 wait=acquired";
  struct Case {
    const char* what;
    std::string setup;
    std::string printed;
  } cases[] = {
      {"nothing made before", "true", taken},
      {"the old shared-memory name made and held by another user",
       std::string("touch ") + old_name + " && chown 54321 " + old_name + " && exec 9<" +
           old_name + " && flock -s 9",
       taken},
      {"/run/vemtu owned by another user", "mkdir /run/vemtu && chown 54321 /run/vemtu", refused},
      {"/run/vemtu writable by everyone", "mkdir -m 1777 /run/vemtu", refused},
      {"/run/vemtu writable by a group", "mkdir -m 775 /run/vemtu && chgrp 54321 /run/vemtu",
       refused},
      {"/run/vemtu a link to a folder of another user",
       "mkdir /dev/shm/x && chown 54321 /dev/shm/x && ln -s /dev/shm/x /run/vemtu",
       "probe valid=0 error=" + std::to_string(ENOTDIR) + " "},
      {"the table made by another user",
       "mkdir /run/vemtu && truncate -s " + size + " " + table + " && chown 54321 " + table,
       refused},
      {"the table open to everyone",
       "mkdir /run/vemtu && truncate -s " + size + " " + table + " && chmod 666 " + table, refused},
      {"the table a FIFO", "mkdir /run/vemtu && mkfifo -m 600 " + table, refused},
      {"the table a link", "mkdir /run/vemtu && ln -s /dev/shm/t " + table,
       "probe valid=0 error=" + std::to_string(ELOOP) + " "},
      {"the table of another size", "mkdir /run/vemtu && truncate -s 4096 " + table, refused},
      {"the table held whole with flock by another process",
       std::string(kProbeVariable) + "=warm-up \"$0\" >/dev/null && exec 9<" + table +
           " && flock -x 9",
       taken},
      {"a runtime folder writable by everyone",
       "mkdir -m 777 /run/rt && export RUNTIME_DIRECTORY=/run/rt", refused},
      {"a user's run without /run/vemtu: a store of its own", kOwnAgent,
       taken + "\nstore=drwx------ nobody"},
      {"a user's run beside root's /run/vemtu without its table",
       "mkdir /run/vemtu && " + std::string(kOwnAgent), taken + "\nstore=drwx------ nobody"},
      {"a user's own store made by another user",
       std::string(kOwnAgent) + " && mkdir -p " + kOwnStore + " && chown -R 54321 " + kOwnStore,
       refused},
      {"a runtime folder of the service (the first of two)",
       "mkdir -m 755 /run/rt && export RUNTIME_DIRECTORY=/run/rt:/run/vemtu && touch /run/vemtu",
       taken},
  };
  for (const Case& c : cases) {
    const std::string printed = ProbeAfter(c.setup);
    EXPECT_NE(printed.find(c.printed), std::string::npos) << c.what << ": " << printed;
  }
}

}  // namespace
}  // namespace vemtu::platform
