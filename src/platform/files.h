// Files and folders, seen without following links: a link (Windows: a reparse point)
// is never opened, listed through, written through or moved into; a file that is not a
// regular disk file (a FIFO, a device) opens as a missing file would.
#pragma once

#include <cstdint>
#include <string>

namespace vemtu::platform {

// Sets a file's attributes to normal (clears read-only and the like). False when the
// file does not exist, is a link, or cannot be changed: the usual test for a missing file.
bool SetAttributesNormal(const std::string& path);

// Creates one folder (not its parents). False when it exists already or cannot be made.
bool CreateFolder(const std::string& path);

enum class MoveOutcome {
  kMoved,    // the file has its new name
  kExists,   // a file of the new name exists; nothing was changed
  kFailed,   // the move failed for another reason (see LastError)
};

// Moves (renames) a file without ever replacing one of the new name. Fails when the
// folder of `to` is a link.
MoveOutcome MoveNoReplace(const std::string& from, const std::string& to);

// Moves `from` to `planned`, or, when a file of that name exists, to the first free name
// of the form planned + "." + N (N = 1, 2, ...), so that no file is ever replaced. Names
// longer than `max_chars` are not tried. Returns the name used; empty when the file
// could not be moved.
std::string MoveToFreeName(const std::string& from, const std::string& planned,
                           std::size_t max_chars);

// Deletes a file (a link itself, never what it points to).
bool DeleteFileAt(const std::string& path);

// True when the path names an existing folder that is not a link.
bool IsFolder(const std::string& path);

// What tells one file from another and from its earlier self: a file replaced, grown,
// or rewritten since has another identity.
struct FileIdentity {
  std::uint64_t device = 0;
  std::uint64_t index = 0;  // inode number (Windows: file index)
  std::uint64_t size = 0;
  std::int64_t modified = 0;  // modification time, at the finest unit the system keeps
  std::uint32_t links = 0;    // how many names the file has (not part of the identity)
  std::int64_t changed = 0;   // status change time (Linux ctime, which no writer can set
                              // back; Windows: 0), not part of the identity
  bool valid = false;         // false: no regular file was found

  bool operator==(const FileIdentity& other) const {
    return valid && other.valid && device == other.device && index == other.index &&
           size == other.size && modified == other.modified;
  }
};

// The identity of the regular file `path` names (not following a link); not valid when
// it names anything else or nothing.
FileIdentity IdentityAt(const std::string& path);

// Deletes `path` only when it is still the file `expected` describes. False (and the file
// kept) when it changed, was replaced, or cannot be deleted.
bool DeleteIfUnchanged(const std::string& path, const FileIdentity& expected);

enum class OpenMode {
  kReadExisting,          // read; others may read; must exist
  kReadWriteExisting,     // read and write; others may read; must exist
  kReadWriteAlways,       // read and write; others may read; created when missing
  kWriteTruncate,         // write; others may read; created or emptied
  kWriteTruncateUnshared, // write; no sharing while open; created or emptied
  kAppendAlways,          // append only (every write lands at the end, as one piece);
                          // others may read; created when missing
  kCreateNew,  // read and write; others may read; fails when the name exists (O_EXCL / CREATE_NEW)
};

// An open file; move-only, closed by its destructor.
class File {
 public:
  File() = default;
  ~File();
  File(File&& other) noexcept;
  File& operator=(File&& other) noexcept;
  File(const File&) = delete;
  File& operator=(const File&) = delete;

  // Opens `path`; check IsOpen(), and LastError() for the reason of a failure. Only a
  // regular file opens, never through a link (nor, for the writing modes, in a folder
  // that is a link), and never waiting for a writer or device (a FIFO fails at once).
  // A file made by kCreateNew may have no identity at open: ask Identity() once written.
  static File Open(const std::string& path, OpenMode mode);

  bool IsOpen() const;
  // Reads up to `size` bytes; returns the count read (0 at the end), or -1 on failure.
  long long Read(void* buffer, std::size_t size);
  // Reads up to `size` bytes from `offset`, leaving the file position as it is for Read
  // (Windows: moves it); fewer only at the end of the file. -1 on failure.
  long long ReadAt(void* buffer, std::size_t size, std::uint64_t offset) const;
  // A second handle on the same open file, with the same identity at open; it takes no
  // hold of HoldOffWriters. Check IsOpen().
  File Duplicate() const;
  // Writes all `size` bytes; false when fewer could be written.
  bool Write(const void* buffer, std::size_t size);
  bool SeekToEnd();
  bool SeekTo(std::uint64_t offset);
  // Makes room for `size` bytes: a shorter file grows to that size (zeros) with its
  // blocks reserved on disk, so writes within it cannot fail for want of space. False,
  // the file as it was, when the disk has no room.
  bool Reserve(std::uint64_t size);
  // Cuts the file to `size` bytes.
  bool Truncate(std::uint64_t size);
  // Takes every access from users other than the file's owner and group, for a file the
  // run has just made: Linux mode 0600, or 0660 when the run's umask lets the group
  // write what it makes (the folder is shared by a group of the agent's users). Windows
  // keeps the access its folder gives new files.
  bool KeepFromOthers();
  // Current size in bytes, or -1 when it cannot be read.
  long long Size() const;
  // The size the file had when it was opened (read with the open's own checks, so it
  // costs nothing more).
  long long SizeAtOpen() const {
    return at_open_.valid ? static_cast<long long>(at_open_.size) : -1;
  }
  // The identity the file had when it was opened, with its count of names, read by the
  // open's own checks (not valid when they could not read it).
  const FileIdentity& IdentityAtOpen() const { return at_open_; }
  // The identity of the open file (not valid when it cannot be read), with its count of
  // names (Windows: nNumberOfLinks).
  FileIdentity Identity() const;
  enum class WriterHold {
    kHeld,          // no writer may open the file until it is closed (or, on Linux, until
                    // the system takes the hold back after its lease-break time)
    kHeldByWriter,  // a writer holds the file open now (LastError: HeldByWriter)
    kUnavailable,   // no hold can be had here (a file of another owner, a network file
                    // system): the file is read as it is, and its identity decides
  };
  // Keeps writers off a file opened with kReadExisting while it stays open (Linux: a read
  // lease). On Windows the open's read-only sharing already does this: always kHeld.
  WriterHold HoldOffWriters();
  // True when a writer waits for that hold to end (it will change the file as soon as
  // the file is closed). Windows refuses such a writer instead: always false there.
  bool WriterWaiting() const;
  // Ends the hold once the file has been read whole, on this handle or any duplicate of
  // it, so that a writer waits for the read alone; HoldOffWriters may take it again.
  // Windows keeps writers off for as long as the file is open: nothing to end there.
  void EndWriterHold();
  // Milliseconds since the open file last changed (Linux: the later of its modification
  // and status-change times); -1 when it cannot be read.
  long long MsSinceChange() const;
  void Close();

 private:
  friend class AgentFolder;
  File(std::intptr_t handle, const FileIdentity& at_open) : handle_(handle), at_open_(at_open) {}
  std::intptr_t handle_ = -1;
  FileIdentity at_open_;
  bool writers_held_ = false;  // HoldOffWriters took a hold that lasts until Close
};

}  // namespace vemtu::platform
