// Directory listing through FindFirstFileW / FindNextFileW on a "\\?\" path.
//
// Each name is handed on in the ANSI code page only when it converts exactly, without
// best-fit look-alikes (long_path.h): a name that does not is flagged, never spelled as
// another name ("..\x" for a name holding a fullwidth reverse solidus).
//
// The system applies the wildcard rules itself, including its matches through short 8.3
// names. One rule is checked here as well: a '?' at the end of a pattern also matches
// the end of the name ("*.txt?" finds "a.txt"). Windows has that from its DOS wildcard
// translation, but not every implementation of the API does (Wine's '?' always wants one
// character). A pattern with a '?' is therefore searched with each '?' widened to '*',
// which finds everything the pattern can match, and each entry is kept only when its
// long or short name matches the pattern under the listing rules.
#include "platform/dir_search.h"

#include <windows.h>

#include <algorithm>

#include "platform/codepage.h"
#include "platform/win32/long_path.h"
#include "platform/win32/reparse.h"

namespace vemtu::platform {

using win32_detail::DisplayAnsiName;
using win32_detail::UsableAnsiName;

struct DirSearch::State {
  HANDLE find = INVALID_HANDLE_VALUE;
  std::string filter;  // the pattern entries must match; empty when the system's answer stands

  void Close() {
    if (find != INVALID_HANDLE_VALUE) FindClose(find);
    find = INVALID_HANDLE_VALUE;
    filter.clear();
  }
  ~State() { Close(); }
};

namespace {

// A found entry with its names in the ANSI code page, where they convert exactly.
struct Found {
  std::optional<std::string> name;
  std::optional<std::string> short_name;
};

Found Convert(const WIN32_FIND_DATAW& data) {
  Found found;
  found.name = UsableAnsiName(data.cFileName);
  if (data.cAlternateFileName[0] != L'\0') found.short_name = UsableAnsiName(data.cAlternateFileName);
  return found;
}

void Fill(const WIN32_FIND_DATAW& data, const Found& found, DirEntry& entry) {
  entry.unusable_name = !found.name;
  entry.name = found.name ? *found.name : DisplayAnsiName(data.cFileName);
  const bool reparse = (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
  const bool folder = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  // For a reparse point the listing gives the tag in dwReserved0; a file behind a data
  // reparse point is a plain file here, any other reparse point a link.
  entry.is_link = reparse && (folder || !win32_detail::IsDataReparseTag(data.dwReserved0));
  entry.is_directory = !entry.is_link && folder;
  entry.size = entry.is_link ? 0 : (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) |
                                       data.nFileSizeLow;
}

// True when the folder to be listed is a reparse point.
bool FolderIsReparsePoint(const std::wstring& folder) {
  return win32_detail::IsReparsePoint(GetFileAttributesW(folder.c_str()));
}

// An empty folder or no match is the end of the listing, not a failure.
SearchStep Failure() {
  DWORD error = GetLastError();
  if (error == ERROR_NO_MORE_FILES || error == ERROR_FILE_NOT_FOUND) return SearchStep::kNoMore;
  return SearchStep::kFailed;
}

// An entry whose name cannot be matched in the code page is passed on (flagged), so the
// caller can say it was left alone.
bool Accepted(const std::string& filter, const Found& found) {
  if (filter.empty() || !found.name) return true;
  return WildcardMatch(filter, *found.name) ||
         (found.short_name && WildcardMatch(filter, *found.short_name));
}

}  // namespace

DirSearch::DirSearch() : state_(std::make_unique<State>()) {}
DirSearch::~DirSearch() = default;
DirSearch::DirSearch(DirSearch&&) noexcept = default;
DirSearch& DirSearch::operator=(DirSearch&&) noexcept = default;

SearchStep DirSearch::First(const std::string& folder_and_pattern, DirEntry& entry) {
  if (!state_) state_ = std::make_unique<State>();
  state_->Close();

  // The last "\" or "/" by character: a name in the pattern may hold a two-byte character
  // whose second byte is 0x5C.
  const std::size_t backslash = FindCharacter(folder_and_pattern, '\\', Occurrence::kLast);
  const std::size_t slash = FindCharacter(folder_and_pattern, '/', Occurrence::kLast);
  const std::size_t cut = backslash == std::string::npos ? slash
                          : slash == std::string::npos   ? backslash
                                                         : std::max(backslash, slash);
  if (cut == std::string::npos) {
    ::SetLastError(ERROR_INVALID_NAME);  // not a full path
    return SearchStep::kFailed;
  }
  const std::string folder = folder_and_pattern.substr(0, cut);
  std::string pattern = folder_and_pattern.substr(cut + 1);
  if (pattern.find('?') != std::string::npos) {
    state_->filter = pattern;
    std::replace(pattern.begin(), pattern.end(), '?', '*');
  }
  // The folder must be a full path; a drive's root is given with its "\".
  std::optional<std::wstring> search =
      win32_detail::LongPath(folder.size() == 2 && folder[1] == ':' ? folder + '\\' : folder);
  std::optional<std::wstring> wide_pattern = win32_detail::WideFromAnsi(pattern);
  if (!search || !wide_pattern) return SearchStep::kFailed;
  if (FolderIsReparsePoint(*search)) {
    ::SetLastError(ERROR_CANT_ACCESS_FILE);
    return SearchStep::kFailed;
  }
  if (search->back() != L'\\') search->push_back(L'\\');
  search->append(*wide_pattern);

  WIN32_FIND_DATAW data{};
  state_->find = FindFirstFileW(search->c_str(), &data);
  if (state_->find == INVALID_HANDLE_VALUE) return Failure();
  Found found = Convert(data);
  if (Accepted(state_->filter, found)) {
    Fill(data, found, entry);
    return SearchStep::kEntry;
  }
  return Next(entry);
}

SearchStep DirSearch::Next(DirEntry& entry) {
  if (!state_ || state_->find == INVALID_HANDLE_VALUE) {
    ::SetLastError(ERROR_INVALID_HANDLE);  // no search was started
    return SearchStep::kFailed;
  }
  WIN32_FIND_DATAW data{};
  Found found;
  do {
    if (!FindNextFileW(state_->find, &data)) return Failure();
    found = Convert(data);
  } while (!Accepted(state_->filter, found));
  Fill(data, found, entry);
  return SearchStep::kEntry;
}

}  // namespace vemtu::platform
