// Segments of named mutexes: naming, mapping, initialisation, removal, and the slots
// that record which processes have handles open.
#include "platform/posix/named_mutex_segment.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <linux/futex.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace vemtu::platform::named_mutex_detail {
namespace {

// Set once the block is initialised.
constexpr std::uint32_t kReady = 0x56544d32;

// A process identity: the start time (clock ticks since boot) above the process id.
// Process ids stay below 2^22 on Linux; the start time tells a reused id apart.
constexpr int kPidBits = 23;
constexpr std::uint64_t kPidMask = (std::uint64_t{1} << kPidBits) - 1;

// Shared-memory segments appear here (glibc's shm_open puts them there); every name
// starts with kPrefix.
constexpr char kSegmentFolder[] = "/dev/shm";
// The layout's number is part of the name: builds with another layout of the block
// never meet in one segment.
constexpr char kPrefix[] = "/vemtu2-";

// Takes (or drops) the set-up lock of the segment open on `fd`, waiting for it unless
// `try_only`. Open-file-description locks, so that two attaches in one process exclude
// each other too.
bool SetupLock(int fd, bool take, bool try_only = false) {
  struct flock range = {};
  range.l_type = take ? F_WRLCK : F_UNLCK;
  range.l_whence = SEEK_SET;
  range.l_start = 0;
  range.l_len = 1;
  while (fcntl(fd, take && !try_only ? F_OFD_SETLKW : F_OFD_SETLK, &range) != 0) {
    if (errno != EINTR) return false;
  }
  return true;
}

// True when `fd` still is the segment that `name` names: a last user may have removed it
// between our open and our set-up lock. Removal leaves it without a link; renaming it in
// the sticky segment folder takes its owner, who could change the agent anyway.
bool StillNamed(const struct stat& st) { return st.st_nlink > 0; }

// Gives a segment that nobody else maps the agent's rights (only its owner, or root, may);
// `st` is its state now. False when it had to be changed, so that it must be read again.
bool ApplyRights(int fd, const struct stat& st, const SegmentRights& rights) {
  bool changed = false;
  // Root hands the segment to the folder's owner, who could not open it otherwise.
  if (geteuid() == 0) {
    if (st.st_uid != rights.owner || st.st_gid != rights.group) {
      fchown(fd, rights.owner, rights.group);
      changed = true;
    }
  } else if ((rights.mode & 0060) && st.st_gid != rights.group) {
    fchown(fd, static_cast<uid_t>(-1), rights.group);
    changed = true;
  }
  // As asked, whatever the umask took away at creation.
  if ((st.st_mode & 07777) != rights.mode) {
    fchmod(fd, rights.mode);
    changed = true;
  }
  return !changed;
}

// True when only the users of `rights` can reach the memory of the segment in state `st`.
bool RightsAllowed(const struct stat& st, const SegmentRights& rights) {
  if (!S_ISREG(st.st_mode) || st.st_nlink != 1) return false;
  const bool everyone = (rights.mode & 0006) != 0;
  const bool owner_trusted =
      everyone || st.st_uid == 0 || st.st_uid == geteuid() || st.st_uid == rights.owner;
  const bool no_more_rights = (st.st_mode & 0777 & ~rights.mode) == 0;
  const bool group_trusted = everyone || (st.st_mode & 0070) == 0 || st.st_gid == rights.group;
  return owner_trusted && no_more_rights && group_trusted;
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

// Initialises a block that no other process has mapped: a fresh mutex and no handles.
bool InitBlock(SharedBlock& block) {
  block.ready = 0;
  block.unlisted.store(0);
  for (auto& slot : block.present) slot.store(0);
  if (!InitMutex(&block.mutex)) return false;
  block.ready = kReady;
  return true;
}

struct ProcessState {
  bool known = false;  // /proc told us
  char state = '?';
  std::uint64_t start = 0;
};

// Reads the state and start time of `pid` from /proc/<pid>/stat.
ProcessState ReadProcessState(long pid, int& error) {
  ProcessState result;
  char path[48];
  std::snprintf(path, sizeof path, "/proc/%ld/stat", pid);
  int fd = open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    error = errno;
    return result;
  }
  char buffer[1024];
  ssize_t n = read(fd, buffer, sizeof buffer - 1);
  close(fd);
  if (n <= 0) {
    error = EIO;
    return result;
  }
  buffer[n] = '\0';
  // "pid (command) S ppid ...": the fields follow the last ')', as the command may hold
  // one. The state is field 3, the start time field 22.
  const char* field = std::strrchr(buffer, ')');
  if (!field || field[1] != ' ') {
    error = EIO;
    return result;
  }
  field += 2;
  result.state = *field;
  for (int number = 3; number < 22 && field; ++number) {
    field = std::strchr(field, ' ');
    if (field) ++field;
  }
  if (!field) {
    error = EIO;
    return result;
  }
  result.start = std::strtoull(field, nullptr, 10);
  result.known = true;
  return result;
}

bool ProcessAlive(std::uint64_t identity) {
  long pid = static_cast<long>(identity & kPidMask);
  std::uint64_t start = identity >> kPidBits;
  int error = 0;
  ProcessState process = ReadProcessState(pid, error);
  if (!process.known) {
    if (error == ENOENT) return false;
    // No /proc to ask: whatever holds the id counts as alive.
    return kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM;
  }
  // A zombie has ended: its handles and holds are gone, though its id is not.
  if (process.state == 'Z' || process.state == 'X' || process.state == 'x') return false;
  return start == 0 || process.start == start;
}

}  // namespace

std::string SegmentName(const std::string& name) {
  std::uint64_t hash = 14695981039346656037ULL;  // FNV-1a
  for (unsigned char c : name) {
    hash ^= c;
    hash *= 1099511628211ULL;
  }
  constexpr std::size_t kReadable = 40;
  const std::size_t from = name.size() > kReadable ? name.size() - kReadable : 0;
  char result[sizeof kPrefix + kReadable + 20];
  std::size_t n = sizeof kPrefix - 1;
  std::memcpy(result, kPrefix, n);
  for (std::size_t i = from; i < name.size(); ++i) {
    char c = name[i];
    bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                 (c >= '0' && c <= '9') || c == '_' || c == '.';
    result[n++] = plain ? c : '-';
  }
  static const char kHex[] = "0123456789abcdef";
  result[n++] = '-';
  for (int shift = 60; shift >= 0; shift -= 4) result[n++] = kHex[(hash >> shift) & 0xf];
  return std::string(result, n);
}

SegmentRights RightsForFolder(const std::string& folder) {
  SegmentRights rights;
  struct stat st;
  if (folder.empty() || stat(folder.c_str(), &st) != 0) {
    rights.owner = geteuid();
    rights.group = getegid();
    return rights;
  }
  rights.owner = st.st_uid;
  rights.group = st.st_gid;
  if (st.st_mode & S_IWGRP) rights.mode |= 0060;
  if (st.st_mode & S_IWOTH) rights.mode |= 0006;
  return rights;
}

bool AttachSegment(const std::string& name, const SegmentRights& rights, Segment& segment) {
  int fd = -1;
  for (int attempt = 0; attempt < 16; ++attempt) {
    fd = shm_open(name.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, rights.mode);
    if (fd < 0) return false;
    if (!SetupLock(fd, true)) break;
    struct stat st;
    if (fstat(fd, &st) != 0) break;
    if (!StillNamed(st)) {
      close(fd);  // removed under us by its last user: open the new one
      fd = -1;
      continue;
    }
    bool created = flock(fd, LOCK_EX | LOCK_NB) == 0;  // no other process maps it
    if (created && !ApplyRights(fd, st, rights) && fstat(fd, &st) != 0) break;
    if (!RightsAllowed(st, rights)) {
      errno = EACCES;
      break;
    }
    void* map = MAP_FAILED;
    if (created) {
      if (ftruncate(fd, sizeof(SharedBlock)) == 0) {
        map = mmap(nullptr, sizeof(SharedBlock), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
      }
    } else if (st.st_size >= static_cast<off_t>(sizeof(SharedBlock))) {
      map = mmap(nullptr, sizeof(SharedBlock), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    } else {
      errno = EINVAL;
    }
    if (map == MAP_FAILED) break;
    auto* block = static_cast<SharedBlock*>(map);
    bool usable = created ? InitBlock(*block) : block->ready == kReady;
    // Downgrading from exclusive cannot block: other openers only try exclusive while
    // holding the set-up lock, which is ours.
    if (!usable || flock(fd, LOCK_SH) != 0) {
      int saved = usable ? errno : EINVAL;
      munmap(map, sizeof(SharedBlock));
      close(fd);
      errno = saved;
      return false;
    }
    SetupLock(fd, false);
    segment.fd = fd;
    segment.block = block;
    segment.created = created;
    return true;
  }
  int saved = errno;
  if (fd >= 0) close(fd);
  errno = saved ? saved : EAGAIN;
  return false;
}

void DetachSegment(const std::string& name, Segment& segment) {
  if (segment.fd < 0) return;
  if (SetupLock(segment.fd, true)) {
    // Our shared flock turns exclusive only when no other process maps the segment: the
    // last user removes it. (A refused upgrade drops our flock, which closing does anyway.)
    if (flock(segment.fd, LOCK_EX | LOCK_NB) == 0) shm_unlink(name.c_str());
  }
  munmap(segment.block, sizeof(SharedBlock));
  close(segment.fd);  // drops the set-up lock and the flock
  segment = Segment();
}

void RemoveUnusedSegments() {
  DIR* folder = opendir(kSegmentFolder);
  if (!folder) return;
  const std::size_t prefix_length = sizeof kPrefix - 2;  // without '/' and the end
  while (const dirent* entry = readdir(folder)) {
    if (std::strncmp(entry->d_name, kPrefix + 1, prefix_length) != 0) continue;
    const std::string name = std::string("/") + entry->d_name;
    int fd = shm_open(name.c_str(), O_RDWR | O_CLOEXEC, 0);
    if (fd < 0) continue;
    // As the last user's detach does: nobody maps it when its flock can be exclusive.
    // A segment in set-up by someone else is left alone.
    struct stat st;
    if (SetupLock(fd, true, true) && fstat(fd, &st) == 0 && StillNamed(st) &&
        flock(fd, LOCK_EX | LOCK_NB) == 0) {
      shm_unlink(name.c_str());
    }
    close(fd);
  }
  closedir(folder);
}

std::uint64_t CurrentProcessIdentity() {
  pid_t pid = getpid();
  int error = 0;
  ProcessState self = ReadProcessState(pid, error);
  std::uint64_t start = self.known ? self.start : 0;
  return (start << kPidBits) | (static_cast<std::uint64_t>(pid) & kPidMask);
}

int RegisterPresence(SharedBlock& block, std::uint64_t self, int hint) {
  if (hint >= 0 && hint < kPresenceSlots) {
    std::uint64_t free_slot = 0;
    if (block.present[hint].compare_exchange_strong(free_slot, self)) return hint;
  }
  for (int i = 0; i < kPresenceSlots; ++i) {
    std::uint64_t free_slot = 0;
    if (block.present[i].compare_exchange_strong(free_slot, self)) return i;
  }
  // Every slot is taken: reclaim one left by a process that died with handles open.
  for (int i = 0; i < kPresenceSlots; ++i) {
    std::uint64_t taken = block.present[i].load();
    if (taken != self && taken != 0 && !ProcessAlive(taken) &&
        block.present[i].compare_exchange_strong(taken, self)) {
      return i;
    }
  }
  block.unlisted.fetch_add(1);
  return -1;
}

void ClearPresence(SharedBlock& block, std::uint64_t self, int slot) {
  if (slot < 0) {
    block.unlisted.fetch_sub(1);
    return;
  }
  std::uint64_t mine = self;
  block.present[slot].compare_exchange_strong(mine, 0);
}

bool OtherProcessPresent(SharedBlock& block, std::uint64_t self) {
  if (block.unlisted.load() != 0) return true;
  for (auto& slot : block.present) {
    std::uint64_t taken = slot.load();
    if (taken == 0 || taken == self) continue;
    if (ProcessAlive(taken)) return true;
    slot.compare_exchange_strong(taken, 0);  // its process died with handles open
  }
  return false;
}

bool LiveProcessPresent(const std::string& name) {
  int fd = shm_open(name.c_str(), O_RDONLY | O_CLOEXEC, 0);
  if (fd < 0) return false;
  struct stat st;
  void* mapped = MAP_FAILED;
  if (fstat(fd, &st) == 0 && st.st_size >= static_cast<off_t>(sizeof(SharedBlock)))
    mapped = mmap(nullptr, sizeof(SharedBlock), PROT_READ, MAP_SHARED, fd, 0);
  close(fd);
  if (mapped == MAP_FAILED) return false;
  const SharedBlock& block = *static_cast<const SharedBlock*>(mapped);
  bool present = false;
  if (block.ready == kReady) {
    present = block.unlisted.load() != 0;
    for (const auto& slot : block.present) {
      std::uint64_t taken = slot.load();
      if (taken != 0 && ProcessAlive(taken)) present = true;
    }
  }
  munmap(mapped, sizeof(SharedBlock));
  return present;
}

bool OtherSlotTaken(const SharedBlock& block, std::uint64_t self) {
  if (block.unlisted.load() != 0) return true;
  for (const auto& slot : block.present) {
    std::uint64_t taken = slot.load();
    if (taken != 0 && taken != self) return true;
  }
  return false;
}

bool HolderDied(const SharedBlock& block) {
  // The word of a robust mutex holds the holder's thread id and the kernel's flags.
  int word = __atomic_load_n(&block.mutex.__data.__lock, __ATOMIC_ACQUIRE);
  return (static_cast<unsigned>(word) & FUTEX_OWNER_DIED) != 0;
}

void StartAfresh(SharedBlock& block) {
  int rc = pthread_mutex_trylock(&block.mutex);
  if (rc == EOWNERDEAD) {
    pthread_mutex_consistent(&block.mutex);
    rc = 0;
  }
  // Taken normally, someone else took and released it since we looked: hand it back.
  if (rc == 0) pthread_mutex_unlock(&block.mutex);
}

}  // namespace vemtu::platform::named_mutex_detail
