// The shared part of a named mutex on Linux: a segment in shared memory named after the
// mutex, holding a robust, process-shared, recursive pthread mutex and the list of the
// processes that have handles open to it.
//
// Segment lifetime: every process that maps the segment keeps a shared flock on it; the
// process that finds no other (the flock can be made exclusive) initialises the block,
// and the last one to unmap it removes it. Set-up and tear-down of one segment are
// serialised by an open-file-description lock on its first byte.
//
// Rights: a segment is for the users who may run the agent from its folder, that is who
// may write that folder (and can therefore already change what the agent loads): the
// folder's owner, its group when the group may write it, everyone when everyone may.
// The process that initialises a segment gives it exactly those rights; a segment with
// more rights, or owned by someone else, is refused, as its memory (the mutex and the
// list pointers the C library keeps in it) would be open to another user.
//
// Handles: a process keeps its identity (process id and start time) in one slot of the
// block while it has at least one handle open. That costs no system call, and it lets a
// process that opens a lock whose holder died, and that no live process has open any
// more, start it afresh instead of reporting it abandoned.
#pragma once

#include <pthread.h>
#include <sys/types.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>

namespace vemtu::platform::named_mutex_detail {

constexpr int kPresenceSlots = 32;

// Mappings a process keeps without handles, each with its descriptor: every name of a
// run (its logs, one transfer log per prefix, its locks) unless the run meets more
// names than this, which stays well below the usual limit of 1,024 descriptors. A
// killed process leaves its kept segments behind until the next process sweeps them.
constexpr std::size_t kKeptMappings = 256;

struct SharedBlock {
  pthread_mutex_t mutex;
  std::uint32_t ready;
  // Handles of processes that found every slot taken: while not 0, a dead holder's lock
  // is never started afresh (such a handle may belong to a live process).
  std::atomic<std::uint32_t> unlisted;
  // Identities of the processes with open handles; 0 marks a free slot.
  std::atomic<std::uint64_t> present[kPresenceSlots];
};
static_assert(std::atomic<std::uint64_t>::is_always_lock_free &&
                  std::atomic<std::uint32_t>::is_always_lock_free,
              "shared-memory counters must not need a lock");

// The segment name: a readable tail of the mutex name and a 64-bit hash of the whole
// name, so that long names (log paths) that differ anywhere map to distinct locks.
std::string SegmentName(const std::string& name);

struct SegmentRights {
  mode_t mode = 0600;  // 0600, with 0060 and 0006 when the group or everyone may write
  uid_t owner = 0;     // the folder's owner
  gid_t group = 0;     // the folder's group
};

// The rights for the agent in `folder`; 0600 for this user when the folder cannot be read.
SegmentRights RightsForFolder(const std::string& folder);

struct Segment {
  int fd = -1;
  SharedBlock* block = nullptr;
  bool created = false;  // no other process had it mapped: the block was initialised
};

// Opens or creates the segment and maps it; false with errno set when it cannot (EACCES
// for a segment that another user could change).
bool AttachSegment(const std::string& name, const SegmentRights& rights, Segment& segment);
// Unmaps and closes it; the last process to do so removes it.
void DetachSegment(const std::string& name, Segment& segment);

// Removes the segments of this layout that no process maps any more: left behind by
// processes that were killed (their last detach never ran).
void RemoveUnusedSegments();

// The calling process as stored in a slot: never 0. Reads /proc, so callers keep it.
std::uint64_t CurrentProcessIdentity();

// Takes a slot for `self` (trying `hint` first); the slot, or -1 when counted as unlisted.
int RegisterPresence(SharedBlock& block, std::uint64_t self, int hint);
void ClearPresence(SharedBlock& block, std::uint64_t self, int slot);
// True when a live process other than `self` has a handle open (or may have).
bool OtherProcessPresent(SharedBlock& block, std::uint64_t self);
// True when a live process has a handle open to the segment `name`: looks through a
// read-only mapping, so it neither creates the segment nor registers the caller.
bool LiveProcessPresent(const std::string& name);
// True when any slot other than `self`'s is taken, dead processes included: no /proc.
bool OtherSlotTaken(const SharedBlock& block, std::uint64_t self);

// True when the last holder died holding the mutex and nobody has taken it since: the
// kernel marks the mutex word so when it ends the dead thread's hold. One memory load.
bool HolderDied(const SharedBlock& block);
// Takes and hands back a mutex left by a dead holder, so the next waiter gets it as a
// normal lock. Goes through the mutex itself, so it never breaks mutual exclusion.
void StartAfresh(SharedBlock& block);

}  // namespace vemtu::platform::named_mutex_detail
