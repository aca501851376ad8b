// Directory listing with Windows wildcard rules: '*' matches any run of characters,
// '?' any one character, and a '?' at the end of the pattern also matches the end of
// the name ("*.txt?" finds "a.txt" and "a.txt1"). Letter case is ignored, as on Windows.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace vemtu::platform {

// A name found on disk is bytes: on Linux a '\' in it is an ordinary character.
struct DirEntry {
  std::string name;          // file name only, no folder
  bool is_directory = false; // a folder that is not a link
  bool is_link = false;      // a link (Windows: a reparse point), whatever it points to;
                             // never followed, so neither a folder nor a file here
  std::uint64_t size = 0;    // both halves of the size as the listing reports it
  bool unusable_name = false; // Windows: the name cannot be spelled exactly in the ANSI
                              // code page, or would read as another path ("\", "/", ":",
                              // a trailing dot or space); `name` then shows it with "?"
                              // for what it cannot carry and must not be used as a path
};

enum class SearchStep {
  kEntry,      // an entry was returned
  kNoMore,     // the listing reached its end (or nothing matched)
  kFailed,     // the listing failed for another reason (see LastError)
};

// One search over "folder + pattern", e.g. "/x/AlertTkt/*_N_*.txt?" (the pattern is
// everything after the last separator). A folder that is itself a link is not listed
// (the search fails). Move-only; the destructor closes the search.
class DirSearch {
 public:
  DirSearch();
  ~DirSearch();
  DirSearch(DirSearch&&) noexcept;
  DirSearch& operator=(DirSearch&&) noexcept;
  DirSearch(const DirSearch&) = delete;
  DirSearch& operator=(const DirSearch&) = delete;

  // Starts the search and fetches the first entry.
  SearchStep First(const std::string& folder_and_pattern, DirEntry& entry);
  // Fetches the next entry.
  SearchStep Next(DirEntry& entry);

 private:
  friend class AgentFolder;
  // Starts the search over `pattern` in the folder opened for listing as `folder`, a handle
  // the search takes over.
  SearchStep FirstIn(std::intptr_t folder, const std::string& pattern, DirEntry& entry);

  struct State;
  std::unique_ptr<State> state_;
};

// The matcher the Linux listing uses; exposed for tests. Case-insensitive (ASCII).
bool WildcardMatch(const std::string& pattern, const std::string& name);

}  // namespace vemtu::platform
