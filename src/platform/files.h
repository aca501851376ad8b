// Files and folders.
#pragma once

#include <cstdint>
#include <string>

namespace vemtu::platform {

// Sets a file's attributes to normal (clears read-only and the like). False when the
// file does not exist or cannot be changed: the usual test for a missing file.
bool SetAttributesNormal(const std::string& path);

// Creates one folder (not its parents). False when it exists already or cannot be made.
bool CreateFolder(const std::string& path);

// Moves (renames) a file, replacing an existing file of the new name.
bool MoveReplace(const std::string& from, const std::string& to);

// Deletes a file.
bool DeleteFileAt(const std::string& path);

// True when the path names an existing folder.
bool IsFolder(const std::string& path);

enum class OpenMode {
  kReadExisting,          // read; others may read; must exist
  kReadWriteExisting,     // read and write; others may read; must exist
  kReadWriteAlways,       // read and write; others may read; created when missing
  kWriteTruncate,         // write; others may read; created or emptied
  kWriteTruncateUnshared, // write; no sharing while open; created or emptied
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

  // Opens `path`; check IsOpen(), and LastError() for the reason of a failure.
  static File Open(const std::string& path, OpenMode mode);

  bool IsOpen() const;
  // Reads up to `size` bytes; returns the count read (0 at the end), or -1 on failure.
  long long Read(void* buffer, std::size_t size);
  // Writes all `size` bytes; false when fewer could be written.
  bool Write(const void* buffer, std::size_t size);
  bool SeekToEnd();
  bool SeekTo(std::uint64_t offset);
  // Current size in bytes, or -1 when it cannot be read.
  long long Size() const;
  void Close();

 private:
  explicit File(std::intptr_t handle) : handle_(handle) {}
  std::intptr_t handle_ = -1;
};

}  // namespace vemtu::platform
