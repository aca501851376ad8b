// The lock table: keys, slots claimed and given back, the table's own lock, and the
// presence slots that record which processes have handles open.
#include "platform/posix/named_mutex_table.h"

#include <errno.h>
#include <fcntl.h>
#include <linux/futex.h>
#include <signal.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace vemtu::platform::named_mutex_detail {
namespace {

// Set once the table is initialised; a build with another layout uses another file name
// (see named_mutex_store.cpp), so this only tells an initialised table from a torn one.
constexpr std::uint32_t kTableLayout = 0x56544d33;

enum SlotState : std::uint32_t { kSlotFree = 0, kSlotClaimed = 1, kSlotInUse = 2 };

// The table's own lock is held for a few steps at a time: waiting longer than this means
// a holder that was stopped, and the caller fails instead of hanging with it.
constexpr long kTableWaitMs = 5000;

// A process identity: the start time (clock ticks since boot) above the process id.
// Process ids stay below 2^22 on Linux; the start time tells a reused id apart.
constexpr int kPidBits = 23;
constexpr std::uint64_t kPidMask = (std::uint64_t{1} << kPidBits) - 1;

bool InitMutex(pthread_mutex_t* mutex, bool recursive) {
  pthread_mutexattr_t attr;
  if (pthread_mutexattr_init(&attr) != 0) return false;
  bool ok = pthread_mutexattr_setpshared(&attr, PTHREAD_PROCESS_SHARED) == 0 &&
            pthread_mutexattr_setrobust(&attr, PTHREAD_MUTEX_ROBUST) == 0 &&
            (!recursive || pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_RECURSIVE) == 0) &&
            pthread_mutex_init(mutex, &attr) == 0;
  pthread_mutexattr_destroy(&attr);
  return ok;
}

std::uint32_t BucketOf(std::uint64_t hash) { return static_cast<std::uint32_t>(hash % kBuckets); }

bool Matches(const LockSlot& slot, const LockKey& key) {
  return slot.state.load() == kSlotInUse && slot.hash == key.hash &&
         slot.key_length == key.text.size() &&
         std::memcmp(slot.key, key.text.data(), key.text.size()) == 0;
}

// The chains rebuilt from the slots' states: after a process died holding the table lock,
// a chain may be half changed, while every slot's state was written last on claim and
// first on free. A claim it did not finish is given back.
void Rebuild(LockTable& table) {
  for (auto& head : table.buckets) head = kNoSlot;
  for (std::uint32_t i = 0; i < kLockSlots; ++i) {
    LockSlot& slot = table.slots[i];
    if (slot.state.load() == kSlotClaimed) slot.state.store(kSlotFree);
    if (slot.state.load() != kSlotInUse) continue;
    std::uint32_t& head = table.buckets[BucketOf(slot.hash)];
    slot.next = head;
    head = i;
  }
  table.free_hint = 0;
}

void Unlink(LockTable& table, std::uint32_t index) {
  std::uint32_t* link = &table.buckets[BucketOf(table.slots[index].hash)];
  for (std::uint32_t steps = 0; *link != kNoSlot && steps < kLockSlots; ++steps) {
    if (*link == index) {
      *link = table.slots[index].next;
      return;
    }
    link = &table.slots[*link].next;
  }
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

// Gives back the slots whose every handle belonged to processes that died: called when
// no slot is free, so the reads of /proc it costs are rare.
void SweepDeadSlots(LockTable& table) {
  for (std::uint32_t i = 0; i < kLockSlots; ++i) {
    LockSlot& slot = table.slots[i];
    if (slot.state.load() != kSlotInUse || slot.unlisted.load() != 0) continue;
    for (auto& presence : slot.present) {
      std::uint64_t taken = presence.load();
      if (taken != 0 && !ProcessAlive(taken)) presence.compare_exchange_strong(taken, 0);
    }
    FreeIfUnused(table, slot);
  }
}

LockSlot* ClaimFree(LockTable& table, const LockKey& key) {
  for (std::uint32_t step = 0; step < kLockSlots; ++step) {
    const std::uint32_t index = (table.free_hint + step) % kLockSlots;
    LockSlot& slot = table.slots[index];
    if (slot.state.load() != kSlotFree) continue;
    slot.state.store(kSlotClaimed);
    slot.hash = key.hash;
    slot.key_length = static_cast<std::uint32_t>(key.text.size());
    std::memcpy(slot.key, key.text.data(), key.text.size());
    slot.unlisted.store(0);
    for (auto& presence : slot.present) presence.store(0);
    if (!InitMutex(&slot.mutex, true)) {
      slot.state.store(kSlotFree);
      errno = ENOMEM;
      return nullptr;
    }
    std::uint32_t& head = table.buckets[BucketOf(key.hash)];
    slot.next = head;
    head = index;
    slot.state.store(kSlotInUse);
    table.free_hint = (index + 1) % kLockSlots;
    return &slot;
  }
  return nullptr;
}

}  // namespace

LockKey KeyOf(const std::string& name) {
  LockKey key;
  key.hash = 14695981039346656037ULL;  // FNV-1a
  for (unsigned char c : name) {
    key.hash ^= c;
    key.hash *= 1099511628211ULL;
  }
  if (name.size() <= kKeyCapacity) {
    key.text = name;
    return key;
  }
  // The hash first, so that no name that fits can look like it.
  char hash_text[20];
  std::snprintf(hash_text, sizeof hash_text, "%016llx:", static_cast<unsigned long long>(key.hash));
  key.text = std::string("\x01") + hash_text;
  key.text += name.substr(name.size() - (kKeyCapacity - key.text.size()));
  return key;
}

bool InitTable(LockTable& table) {
  table.layout = 0;
  table.free_hint = 0;
  for (auto& head : table.buckets) head = kNoSlot;
  if (!InitMutex(&table.mutex, false)) return false;
  table.layout = kTableLayout;  // slots are free as the file's zero bytes leave them
  return true;
}

bool TableReady(const LockTable& table) { return table.layout == kTableLayout; }

TableLock::TableLock(LockTable& table) : table_(table) {
  timespec deadline;
  clock_gettime(CLOCK_MONOTONIC, &deadline);
  deadline.tv_sec += kTableWaitMs / 1000;
  int rc = pthread_mutex_clocklock(&table_.mutex, CLOCK_MONOTONIC, &deadline);
  if (rc == EOWNERDEAD) {
    Rebuild(table_);
    pthread_mutex_consistent(&table_.mutex);
    rc = 0;
  }
  held_ = rc == 0;
  if (!held_) errno = rc == ETIMEDOUT ? EAGAIN : rc;
}

TableLock::~TableLock() {
  if (held_) pthread_mutex_unlock(&table_.mutex);
}

LockSlot* FindOrClaim(LockTable& table, const LockKey& key, bool& claimed) {
  claimed = false;
  std::uint32_t index = table.buckets[BucketOf(key.hash)];
  for (std::uint32_t steps = 0; index != kNoSlot && steps < kLockSlots; ++steps) {
    if (Matches(table.slots[index], key)) return &table.slots[index];
    index = table.slots[index].next;
  }
  LockSlot* slot = ClaimFree(table, key);
  if (!slot) {
    SweepDeadSlots(table);
    slot = ClaimFree(table, key);
  }
  if (!slot && errno != ENOMEM) errno = ENOSPC;
  claimed = slot != nullptr;
  return slot;
}

void FreeIfUnused(LockTable& table, LockSlot& slot) {
  if (slot.state.load() != kSlotInUse || slot.unlisted.load() != 0) return;
  for (const auto& presence : slot.present) {
    if (presence.load() != 0) return;
  }
  slot.state.store(kSlotFree);
  Unlink(table, static_cast<std::uint32_t>(&slot - table.slots));
}

bool LiveProcessPresent(const LockTable& table, const LockKey& key) {
  for (const LockSlot& slot : table.slots) {
    if (!Matches(slot, key)) continue;
    if (slot.unlisted.load() != 0) return true;
    for (const auto& presence : slot.present) {
      std::uint64_t taken = presence.load();
      if (taken != 0 && ProcessAlive(taken)) return true;
    }
  }
  return false;
}

std::uint64_t CurrentProcessIdentity() {
  pid_t pid = getpid();
  int error = 0;
  ProcessState self = ReadProcessState(pid, error);
  std::uint64_t start = self.known ? self.start : 0;
  return (start << kPidBits) | (static_cast<std::uint64_t>(pid) & kPidMask);
}

int RegisterPresence(LockSlot& slot, std::uint64_t self, int hint) {
  if (hint >= 0 && hint < kPresenceSlots) {
    std::uint64_t free_slot = 0;
    if (slot.present[hint].compare_exchange_strong(free_slot, self)) return hint;
  }
  for (int i = 0; i < kPresenceSlots; ++i) {
    std::uint64_t free_slot = 0;
    if (slot.present[i].compare_exchange_strong(free_slot, self)) return i;
  }
  // Every presence slot is taken: reclaim one left by a process that died with handles open.
  for (int i = 0; i < kPresenceSlots; ++i) {
    std::uint64_t taken = slot.present[i].load();
    if (taken != self && taken != 0 && !ProcessAlive(taken) &&
        slot.present[i].compare_exchange_strong(taken, self)) {
      return i;
    }
  }
  slot.unlisted.fetch_add(1);
  return -1;
}

void ClearPresence(LockSlot& slot, std::uint64_t self, int presence) {
  if (presence < 0) {
    slot.unlisted.fetch_sub(1);
    return;
  }
  std::uint64_t mine = self;
  slot.present[presence].compare_exchange_strong(mine, 0);
}

bool OtherProcessPresent(LockSlot& slot, std::uint64_t self) {
  if (slot.unlisted.load() != 0) return true;
  for (auto& presence : slot.present) {
    std::uint64_t taken = presence.load();
    if (taken == 0 || taken == self) continue;
    if (ProcessAlive(taken)) return true;
    presence.compare_exchange_strong(taken, 0);  // its process died with handles open
  }
  return false;
}

bool OtherSlotTaken(const LockSlot& slot, std::uint64_t self) {
  if (slot.unlisted.load() != 0) return true;
  for (const auto& presence : slot.present) {
    std::uint64_t taken = presence.load();
    if (taken != 0 && taken != self) return true;
  }
  return false;
}

bool HolderDied(const pthread_mutex_t& mutex) {
  // The word of a robust mutex holds the holder's thread id and the kernel's flags.
  int word = __atomic_load_n(&mutex.__data.__lock, __ATOMIC_ACQUIRE);
  return (static_cast<unsigned>(word) & FUTEX_OWNER_DIED) != 0;
}

void StartAfresh(pthread_mutex_t& mutex) {
  int rc = pthread_mutex_trylock(&mutex);
  if (rc == EOWNERDEAD) {
    pthread_mutex_consistent(&mutex);
    rc = 0;
  }
  // Taken normally, someone else took and released it since we looked: hand it back.
  if (rc == 0) pthread_mutex_unlock(&mutex);
}

}  // namespace vemtu::platform::named_mutex_detail
