// Who may use a lock on Linux: a segment that a user other than the agent folder's could
// change is refused while another process uses it, and taken over with the folder's
// rights when nobody does (left behind, or made in advance by someone else).
#ifndef _WIN32
#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <string>

#include "platform/named_mutex.h"
#include "platform/paths.h"
#include "platform/posix/named_mutex_segment.h"

namespace vemtu::platform {
namespace {

constexpr uid_t kOtherUser = 54321;

// A segment made in advance under the lock's name, with the given owner and rights; while
// `in_use`, it looks mapped by a live process (which keeps a shared flock on it).
class MadeInAdvance {
 public:
  MadeInAdvance(const std::string& lock, uid_t owner, mode_t mode, bool in_use)
      : name_(named_mutex_detail::SegmentName(lock)) {
    fd_ = shm_open(name_.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd_ < 0) return;
    bool ok = ftruncate(fd_, sizeof(named_mutex_detail::SharedBlock)) == 0 &&
              fchown(fd_, owner, static_cast<gid_t>(-1)) == 0 && fchmod(fd_, mode) == 0;
    if (ok && in_use) ok = flock(fd_, LOCK_SH) == 0;
    ready_ = ok;
  }
  ~MadeInAdvance() {
    if (fd_ >= 0) close(fd_);
    shm_unlink(name_.c_str());
  }
  bool ready() const { return ready_; }
  struct stat Now() const {
    struct stat st = {};
    fstat(fd_, &st);
    return st;
  }

 private:
  std::string name_;
  int fd_ = -1;
  bool ready_ = false;
};

std::string LockName(const char* what) {
  return std::string("vemtu-rights-") + what + "-" + std::to_string(getpid());
}

class LockRights : public ::testing::Test {
 protected:
  void SetUp() override {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to give a segment to another user";
    std::string exe = ExecutablePath();
    ASSERT_EQ(stat(exe.substr(0, exe.rfind('/')).c_str(), &folder_), 0);
    // The cases below assume a folder that only its owner may write.
    if (folder_.st_mode & (S_IWGRP | S_IWOTH)) GTEST_SKIP() << "the test folder is shared";
    // A process's first lock removes the segments nobody uses: done before the cases
    // make theirs.
    ASSERT_TRUE(NamedMutex::Create(LockName("first")).IsValid());
  }
  struct stat folder_ = {};
};

TEST_F(LockRights, ASegmentInUseThatAnotherUserCouldChangeIsRefused) {
  struct Case {
    const char* what;
    uid_t owner;
    mode_t mode;
  } cases[] = {
      {"owned-by-another-user", kOtherUser, 0600},
      {"writable-by-the-group", 0, 0660},
      {"writable-by-everyone", 0, 0666},
  };
  for (const Case& c : cases) {
    const std::string lock = LockName(c.what);
    MadeInAdvance segment(lock, c.owner, c.mode, true);
    ASSERT_TRUE(segment.ready()) << c.what;
    NamedMutex mutex = NamedMutex::Create(lock);
    EXPECT_FALSE(mutex.IsValid()) << c.what;
    EXPECT_EQ(errno, EACCES) << c.what;
  }
}

TEST_F(LockRights, ASegmentNobodyUsesIsTakenOverWithTheFolderRights) {
  const std::string lock = LockName("stale");
  MadeInAdvance segment(lock, kOtherUser, 0666, false);
  ASSERT_TRUE(segment.ready());
  NamedMutex mutex = NamedMutex::Create(lock);
  ASSERT_TRUE(mutex.IsValid());
  EXPECT_EQ(mutex.Wait(0), WaitResult::kAcquired);
  EXPECT_TRUE(mutex.Release());
  struct stat now = segment.Now();
  EXPECT_EQ(now.st_uid, folder_.st_uid);
  EXPECT_EQ(now.st_mode & 0777, 0600u);
}

}  // namespace
}  // namespace vemtu::platform
#endif
