// Named mutexes across processes: a robust, process-shared, recursive pthread mutex in a
// shared-memory segment named after the mutex.
//
// The segment behaves like the Windows object it stands for:
// - it lives while handles to it are open: every handle keeps a shared flock on it; the
//   one that finds no other holder (re)initialises the mutex on opening and removes the
//   segment on closing, so a lock whose last user died starts afresh;
// - a holder that dies, even by SIGKILL, releases it, and the next waiter is told the
//   lock was abandoned (EOWNERDEAD);
// - the owning thread may take it again and must release it as often; a thread that does
//   not own it cannot release it (EPERM).
// Set-up and tear-down of one segment are serialised by a lock on its first byte.
#include "platform/named_mutex.h"

#include <errno.h>
#include <fcntl.h>
#include <pthread.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <memory>

namespace vemtu::platform {
namespace {

constexpr std::uint32_t kReady = 0x56544d58;  // set once the mutex is initialised
constexpr unsigned long kInfinite = 0xFFFFFFFFUL;

struct SharedBlock {
  pthread_mutex_t mutex;
  std::uint32_t ready;
};

// The segment name: a readable tail of the mutex name and a 64-bit FNV-1a hash of the
// whole name, so that long names (log paths) that differ anywhere map to distinct locks.
std::string SegmentName(const std::string& name) {
  std::uint64_t hash = 14695981039346656037ULL;
  for (unsigned char c : name) {
    hash ^= c;
    hash *= 1099511628211ULL;
  }
  constexpr std::size_t kReadable = 40;
  std::size_t from = name.size() > kReadable ? name.size() - kReadable : 0;
  std::string result = "/vemtu-";
  for (std::size_t i = from; i < name.size(); ++i) {
    char c = name[i];
    bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                 (c >= '0' && c <= '9') || c == '_' || c == '.';
    result += plain ? c : '-';
  }
  char hex[24];
  std::snprintf(hex, sizeof hex, "-%016llx", static_cast<unsigned long long>(hash));
  return result + hex;
}

// Takes (or drops) the set-up lock of the segment open on `fd`. Open-file-description
// locks, so that two handles in one process exclude each other too.
bool SetupLock(int fd, bool take) {
  struct flock range = {};
  range.l_type = take ? F_WRLCK : F_UNLCK;
  range.l_whence = SEEK_SET;
  range.l_start = 0;
  range.l_len = 1;
  while (fcntl(fd, take ? F_OFD_SETLKW : F_OFD_SETLK, &range) != 0) {
    if (errno != EINTR) return false;
  }
  return true;
}

// True when `fd` still is the segment that `segment` names (a last user may have removed
// it between our open and our set-up lock).
bool StillNamed(int fd, const std::string& segment) {
  int again = shm_open(segment.c_str(), O_RDWR | O_CLOEXEC, 0);
  if (again < 0) return false;
  struct stat a, b;
  bool same = fstat(fd, &a) == 0 && fstat(again, &b) == 0 && a.st_ino == b.st_ino &&
              a.st_dev == b.st_dev;
  close(again);
  return same;
}

bool InitMutex(pthread_mutex_t* mutex) {
  pthread_mutexattr_t attr;
  if (pthread_mutexattr_init(&attr) != 0) return false;
  bool ok = pthread_mutexattr_setpshared(&attr, PTHREAD_PROCESS_SHARED) == 0 &&
            pthread_mutexattr_setrobust(&attr, PTHREAD_MUTEX_ROBUST) == 0 &&
            pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_RECURSIVE) == 0 &&
            pthread_mutex_init(mutex, &attr) == 0;
  pthread_mutexattr_destroy(&attr);
  return ok;
}

// Opens the segment, attaches to it and registers as one of its users. Returns the
// mapped block, or nullptr with errno set; `fd` receives the open segment.
SharedBlock* Attach(const std::string& segment, int& fd, bool& created) {
  for (int attempt = 0; attempt < 16; ++attempt) {
    fd = shm_open(segment.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) return nullptr;
    if (!SetupLock(fd, true)) break;
    if (!StillNamed(fd, segment)) {
      close(fd);  // removed under us by its last user: open the new one
      continue;
    }
    created = flock(fd, LOCK_EX | LOCK_NB) == 0;  // no other handle is open
    void* map = MAP_FAILED;
    struct stat st;
    if (created) {
      if (ftruncate(fd, sizeof(SharedBlock)) == 0) {
        map = mmap(nullptr, sizeof(SharedBlock), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
      }
    } else if (fstat(fd, &st) == 0 && st.st_size >= static_cast<off_t>(sizeof(SharedBlock))) {
      map = mmap(nullptr, sizeof(SharedBlock), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    } else {
      errno = EINVAL;
    }
    if (map == MAP_FAILED) break;
    auto* block = static_cast<SharedBlock*>(map);
    bool usable;
    if (created) {
      block->ready = 0;
      usable = InitMutex(&block->mutex);
      if (usable) block->ready = kReady;
    } else {
      usable = block->ready == kReady;
    }
    // Downgrading from exclusive cannot block: other openers only try exclusive while
    // holding the set-up lock, which is ours.
    if (!usable || flock(fd, LOCK_SH) != 0) {
      int saved = usable ? errno : EINVAL;
      munmap(map, sizeof(SharedBlock));
      close(fd);
      errno = saved;
      return nullptr;
    }
    SetupLock(fd, false);
    return block;
  }
  int saved = errno;
  if (fd >= 0) close(fd);
  errno = saved ? saved : EAGAIN;
  return nullptr;
}

}  // namespace

struct NamedMutex::State {
  std::string segment;
  int fd = -1;
  SharedBlock* block = nullptr;
  std::atomic<unsigned long> held{0};  // successful waits through this handle not yet released
};

NamedMutex::~NamedMutex() { Close(); }

NamedMutex::NamedMutex(NamedMutex&& other) noexcept : state_(other.state_) {
  other.state_ = nullptr;
}

NamedMutex& NamedMutex::operator=(NamedMutex&& other) noexcept {
  if (this != &other) {
    Close();
    state_ = other.state_;
    other.state_ = nullptr;
  }
  return *this;
}

NamedMutex NamedMutex::Create(const std::string& name) {
  NamedMutex result;
  auto state = std::make_unique<State>();
  state->segment = SegmentName(name);
  bool created = false;
  state->block = Attach(state->segment, state->fd, created);
  if (!state->block) return result;
  result.state_ = state.release();
  errno = created ? 0 : EEXIST;  // as Windows reports an existing mutex
  return result;
}

bool NamedMutex::IsValid() const { return state_ != nullptr; }

WaitResult NamedMutex::Wait(unsigned long timeout_ms) {
  if (!state_) {
    errno = EBADF;
    return WaitResult::kFailed;
  }
  pthread_mutex_t* mutex = &state_->block->mutex;
  int rc;
  if (timeout_ms == 0) {
    rc = pthread_mutex_trylock(mutex);
  } else if (timeout_ms >= kInfinite) {
    rc = pthread_mutex_lock(mutex);
  } else {
    timespec deadline;
    clock_gettime(CLOCK_MONOTONIC, &deadline);
    deadline.tv_sec += static_cast<time_t>(timeout_ms / 1000);
    deadline.tv_nsec += static_cast<long>(timeout_ms % 1000) * 1000000L;
    if (deadline.tv_nsec >= 1000000000L) {
      deadline.tv_sec += 1;
      deadline.tv_nsec -= 1000000000L;
    }
    rc = pthread_mutex_clocklock(mutex, CLOCK_MONOTONIC, &deadline);
  }
  switch (rc) {
    case 0:
      ++state_->held;
      return WaitResult::kAcquired;
    case EOWNERDEAD:
      // The previous holder died holding it: the lock is ours, and usable again.
      pthread_mutex_consistent(mutex);
      ++state_->held;
      return WaitResult::kAbandoned;
    case EBUSY:
    case ETIMEDOUT:
      errno = ETIMEDOUT;
      return WaitResult::kTimedOut;
    default:
      errno = rc;
      return WaitResult::kFailed;
  }
}

bool NamedMutex::Release() {
  if (!state_) {
    errno = EBADF;
    return false;
  }
  int rc = pthread_mutex_unlock(&state_->block->mutex);
  if (rc != 0) {
    errno = rc;  // EPERM: the caller does not own it
    return false;
  }
  unsigned long held = state_->held.load();
  while (held > 0 && !state_->held.compare_exchange_weak(held, held - 1)) {
  }
  return true;
}

void NamedMutex::Close() {
  if (!state_) return;
  int saved = errno;
  // A handle closed while its thread still holds the lock releases it: the mapping goes
  // away, and with it any way for the system to tell waiters of the holder's death.
  while (state_->held > 0 && pthread_mutex_unlock(&state_->block->mutex) == 0) {
    --state_->held;
  }
  if (SetupLock(state_->fd, true)) {
    // Our shared lock turns exclusive only when no other handle is open: the last user
    // removes the segment. (A refused upgrade drops our lock, which closing does anyway.)
    if (flock(state_->fd, LOCK_EX | LOCK_NB) == 0) shm_unlink(state_->segment.c_str());
  }
  munmap(state_->block, sizeof(SharedBlock));
  close(state_->fd);  // drops the set-up lock and the flock
  delete state_;
  state_ = nullptr;
  errno = saved;
}

}  // namespace vemtu::platform
