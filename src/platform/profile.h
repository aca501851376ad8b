// Private-profile (INI) files with the Windows rules (platform/profile_text.h): sections
// and keys matched without regard to case, the first of duplicate sections or keys wins,
// blanks around "=" and around the value dropped, quotation marks around a whole value
// dropped, the value cut to the capacity; writing creates the file, the section or the
// key (never the folder), and an empty value leaves the key present with an empty value.
// A file that starts with a UTF-16 byte-order mark is read as UTF-16 and written back so.
//
// Files are opened through the run's held folders, never through a link, and edited in
// place: the room for the new text is reserved before a byte of it is written, so the
// file keeps its owner, mode, ACLs, extended attributes and other names, and a full disk
// leaves the old text whole. Every access holds the file's own named lock, kept where
// other users cannot make or hold it (a lock on the file itself could be taken by anyone
// who can read it), so that our readers never see a write half done.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <string>

namespace vemtu::platform {

class AgentFolder;
class NamedMutex;

// The longest one wait for an INI file's lock may take, and all of a run's waits together:
// our own holders keep it for one read or write, so a longer hold is a stopped process.
constexpr unsigned long kProfileLockWaitMs = 2000;
constexpr unsigned long kProfileLockBudgetMs = 5000;

// The named lock every access to `file` holds (its path, letter case folded, hashed).
std::string ProfileLockName(const std::string& file);

// The INI files of one run (or of one caller without a run).
class ProfileFiles {
 public:
  // Unrooted: each path is resolved alone, refusing a link at every level.
  ProfileFiles();
  // Through `folder`: a path inside one of its held folders opens relative to it.
  explicit ProfileFiles(std::shared_ptr<AgentFolder> folder);

  // `report` is told, once, of the first access that went without its file: its lock was
  // not had within the time left (or could not be made). The access then reads the
  // default or fails to write. `error` is 0 for a wait that ran out of time, else the
  // system's number for the lock's failure.
  void ReportGivenUpWaits(std::function<void(const std::string& file, int error)> report);

  // The value, or `default_value` when the file, section or key is missing; at most
  // `max_chars` characters (the value is cut there).
  std::string GetText(const std::string& file, const std::string& section,
                      const std::string& key, const std::string& default_value,
                      std::size_t max_chars);

  // The value's leading decimal digits as a number, or `default_value` when the key is
  // missing or empty. Like Windows: a leading '-' gives a negative number, no digits 0.
  int GetInt(const std::string& file, const std::string& section, const std::string& key,
             int default_value);

  // Sets the key; false when the file cannot be written (nothing of it then changed).
  // The value ends at a line break or NUL. A new file is made without access for others.
  bool WriteText(const std::string& file, const std::string& section, const std::string& key,
                 const std::string& value);

 private:
  // Waits for the lock of `file` within the time left to the run; false (and the report
  // made) when it was not had.
  bool WaitForLock(const std::string& file, NamedMutex& lock);

  std::shared_ptr<AgentFolder> folder_;
  unsigned long waited_ms_ = 0;  // spent on lock waits so far
  bool reported_ = false;
  std::function<void(const std::string&, int)> report_;
};

// One access by a caller without a run (tools, tests): an unrooted ProfileFiles.
std::string GetProfileText(const std::string& file, const std::string& section,
                           const std::string& key, const std::string& default_value,
                           std::size_t max_chars);
int GetProfileInt(const std::string& file, const std::string& section,
                  const std::string& key, int default_value);
bool WriteProfileText(const std::string& file, const std::string& section,
                      const std::string& key, const std::string& value);

}  // namespace vemtu::platform
