// The lock table: one shared file per lock store and rights (see named_mutex_store.h),
// mapped once by every process that uses the agent's locks. It holds a slot per lock name
// in use: a robust, process-shared, recursive pthread mutex, the name, and the list of the
// processes that have handles open to it. A new name takes a free slot under the table's
// own lock, which costs no system call when nobody else is at the table.
//
// Handles: a process keeps its identity (process id and start time) in one presence slot
// of a lock while it has at least one handle open. That costs no system call, and it lets
// a process that opens a lock whose holder died, and that no live process has open any
// more, start it afresh instead of reporting it abandoned. A lock whose last handle closes
// gives its slot back; slots of processes that were killed with handles open are swept
// when the table runs out of free ones.
#pragma once

#include <pthread.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>

namespace vemtu::platform::named_mutex_detail {

constexpr int kPresenceSlots = 32;
constexpr std::uint32_t kLockSlots = 4096;
constexpr std::uint32_t kBuckets = 4096;
constexpr std::uint32_t kNoSlot = 0xFFFFFFFFu;
constexpr std::size_t kKeyCapacity = 256;

// How a name is found in the table: the whole name when it fits, else a readable tail of
// it and a 64-bit hash of all of it, so that long names (log paths) that differ anywhere
// map to distinct locks.
struct LockKey {
  std::uint64_t hash = 0;
  std::string text;
};
LockKey KeyOf(const std::string& name);

struct LockSlot {
  pthread_mutex_t mutex;
  std::atomic<std::uint32_t> state;  // free, being claimed, or in use
  std::uint32_t next;                // the next slot of its bucket's chain, or kNoSlot
  std::uint64_t hash;
  // Handles of processes that found every presence slot taken: while not 0, a dead
  // holder's lock is never started afresh (such a handle may belong to a live process).
  std::atomic<std::uint32_t> unlisted;
  std::uint32_t key_length;
  char key[kKeyCapacity];
  // Identities of the processes with open handles; 0 marks a free presence slot.
  std::atomic<std::uint64_t> present[kPresenceSlots];
};

struct LockTable {
  std::uint32_t layout;     // kTableLayout once the table is initialised
  std::uint32_t free_hint;  // where the search for a free slot starts
  pthread_mutex_t mutex;    // guards chains, claims, presence and frees
  std::uint32_t buckets[kBuckets];
  LockSlot slots[kLockSlots];
};
static_assert(std::atomic<std::uint64_t>::is_always_lock_free &&
                  std::atomic<std::uint32_t>::is_always_lock_free,
              "shared-memory counters must not need a lock");

// Initialises a table that no other process can see yet.
bool InitTable(LockTable& table);
// True when `table` was initialised by a build with this layout.
bool TableReady(const LockTable& table);

// Holds the table's own lock while it lives. Its holders only ever do a few steps under
// it, so the wait has a short limit; a holder that died is recovered from.
class TableLock {
 public:
  explicit TableLock(LockTable& table);
  ~TableLock();
  TableLock(const TableLock&) = delete;
  TableLock& operator=(const TableLock&) = delete;
  bool held() const { return held_; }  // false with errno set when the wait failed

 private:
  LockTable& table_;
  bool held_ = false;
};

// With the table lock held: the slot of `key`, claimed (with a fresh mutex) when the name
// is not in use; nullptr with ENOSPC when every slot is taken by a live process.
LockSlot* FindOrClaim(LockTable& table, const LockKey& key, bool& claimed);
// With the table lock held: gives the slot back when no process has a handle open to it.
void FreeIfUnused(LockTable& table, LockSlot& slot);

// Without the table lock: a look at the slot of `key` through any mapping, even a
// read-only one; true when a live process has a handle open to it.
bool LiveProcessPresent(const LockTable& table, const LockKey& key);

// The calling process as stored in a presence slot: never 0. Reads /proc, so callers
// keep it.
std::uint64_t CurrentProcessIdentity();

// With the table lock held: takes a presence slot for `self` (trying `hint` first); the
// presence slot, or -1 when counted as unlisted.
int RegisterPresence(LockSlot& slot, std::uint64_t self, int hint);
void ClearPresence(LockSlot& slot, std::uint64_t self, int presence);
// True when a live process other than `self` has a handle open (or may have).
bool OtherProcessPresent(LockSlot& slot, std::uint64_t self);
// True when any presence slot other than `self`'s is taken, dead processes included.
bool OtherSlotTaken(const LockSlot& slot, std::uint64_t self);

// True when the last holder died holding the mutex and nobody has taken it since: the
// kernel marks the mutex word so when it ends the dead thread's hold. One memory load.
bool HolderDied(const pthread_mutex_t& mutex);
// Takes and hands back a mutex left by a dead holder, so the next waiter gets it as a
// normal lock. Goes through the mutex itself, so it never breaks mutual exclusion.
void StartAfresh(pthread_mutex_t& mutex);

}  // namespace vemtu::platform::named_mutex_detail
