// The agent folder held for a run: opened once at start-up (refusing a link at any level
// of its path), with the category and Error folders opened relative to it and held until
// the run ends. Every per-file step on a path inside a held folder acts relative to that
// folder's handle, so a folder renamed or exchanged with a link during the run cannot
// send a step outside: the step keeps acting in the folder that was opened.
//
// Callers keep the run's path texts (logs and requests show them); the folder maps a path
// to the held folder that holds it and the rest of the path. A path below a held folder
// but not directly in one is resolved beneath it refusing a link at every level; a path
// outside the agent folder, or any path of an unrooted folder, is resolved alone in the
// same way (the free functions of files.h).
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/dir_search.h"
#include "platform/files.h"

namespace vemtu::platform {

class AgentFolder {
 public:
  // Unrooted: holds nothing; every step resolves its path alone, refusing links.
  AgentFolder();
  ~AgentFolder();
  AgentFolder(AgentFolder&&) noexcept;
  AgentFolder& operator=(AgentFolder&&) noexcept;
  AgentFolder(const AgentFolder&) = delete;
  AgentFolder& operator=(const AgentFolder&) = delete;

  // Opens `root` (no trailing separator), refusing a link at any level of its path.
  // Check IsOpen(); LastError() gives the reason of a failure.
  static AgentFolder Open(const std::string& root);
  bool IsOpen() const;

  // Finds the folder `path`, directly inside the root or inside a folder held before, and
  // holds it; creates it when missing. Where the system tells letter case apart (Linux),
  // an existing folder whose name differs only in case is the one taken, so that
  // "status" finds "Status" as it does on Windows; the path text stays as given. False
  // when the path is outside the agent folder, names a link or a file, or cannot be made.
  bool HoldFolder(const std::string& path);

  // --- Per-file steps, with the contracts of the free functions of files.h ---
  bool SetAttributesNormal(const std::string& path) const;
  bool CreateFolder(const std::string& path) const;
  MoveOutcome MoveNoReplace(const std::string& from, const std::string& to) const;
  std::string MoveToFreeName(const std::string& from, const std::string& planned,
                             std::size_t max_chars) const;
  bool DeleteFileAt(const std::string& path) const;
  FileIdentity IdentityAt(const std::string& path) const;
  bool DeleteIfUnchanged(const std::string& path, const FileIdentity& expected) const;
  File Open(const std::string& path, OpenMode mode) const;
  // Starts `search` over "folder + pattern" as DirSearch::First does, listing a held
  // folder through its handle.
  SearchStep First(DirSearch& search, const std::string& folder_and_pattern,
                   DirEntry& entry) const;

  // Whether `file` (open at `path`) could be deleted by this run now. False, with the
  // reason in LastError(), when the folder is not writable for the run (Linux EACCES;
  // Windows 5), the file system is read-only (EROFS; Windows 19), or the file or its
  // folder refuses deletion by an attribute (Linux EPERM: immutable or append-only;
  // Windows 5 for a read-only file that cannot be reset).
  bool CanDelete(const std::string& path, const File& file) const;

 private:
  struct State;
  std::unique_ptr<State> state_;
};

// The folder a caller acts through: the run's own, or an unrooted one when the run has
// none (a single unit under test).
const AgentFolder& FolderOrUnrooted(const std::shared_ptr<AgentFolder>& folder);

// True when `error_number` says another program holds the file for writing: a sharing or
// lock violation on Windows (32, 33), a refused read lease on Linux (EAGAIN). Such a file
// waits for a later run; any other failure to open it is the file's own.
bool HeldByWriter(int error_number);

// True when a file's second name gives nobody anything: the system lets a user link only
// a file it could read and write itself (Linux with fs.protected_hardlinks = 1; Windows,
// where a hard link needs write access to its target). Elsewhere a file with more than
// one name may be an outside file linked in, and is neither written nor posted.
bool SecondNamesHarmless();

// True when `error_number` says there is no file of that name (Linux ENOENT; Windows 2).
bool NoSuchFile(int error_number);

}  // namespace vemtu::platform
