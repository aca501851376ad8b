// Directory listing through FindFirstFileA / FindNextFileA.
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

#include "platform/win32/reparse.h"

namespace vemtu::platform {

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

void Fill(const WIN32_FIND_DATAA& data, DirEntry& entry) {
  entry.name = data.cFileName;
  entry.is_link = (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
  entry.is_directory = !entry.is_link && (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  entry.size = entry.is_link ? 0 : (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) |
                                       data.nFileSizeLow;
}

// True when the folder part of a search (the text before `name_at`) is a reparse point.
bool FolderIsReparsePoint(const std::string& search, std::string::size_type name_at) {
  if (name_at < 2) return false;
  std::string folder = search.substr(0, name_at - 1);
  if (folder.back() == ':') return false;  // a drive root
  return win32_detail::IsReparsePoint(GetFileAttributesA(folder.c_str()));
}

// An empty folder or no match is the end of the listing, not a failure.
SearchStep Failure() {
  DWORD error = GetLastError();
  if (error == ERROR_NO_MORE_FILES || error == ERROR_FILE_NOT_FOUND) return SearchStep::kNoMore;
  return SearchStep::kFailed;
}

bool Accepted(const std::string& filter, const WIN32_FIND_DATAA& data) {
  if (filter.empty()) return true;
  return WildcardMatch(filter, data.cFileName) ||
         (data.cAlternateFileName[0] != '\0' && WildcardMatch(filter, data.cAlternateFileName));
}

}  // namespace

DirSearch::DirSearch() : state_(std::make_unique<State>()) {}
DirSearch::~DirSearch() = default;
DirSearch::DirSearch(DirSearch&&) noexcept = default;
DirSearch& DirSearch::operator=(DirSearch&&) noexcept = default;

SearchStep DirSearch::First(const std::string& folder_and_pattern, DirEntry& entry) {
  if (!state_) state_ = std::make_unique<State>();
  state_->Close();

  std::string search = folder_and_pattern;
  std::string::size_type name_at = search.find_last_of("\\/:");
  name_at = name_at == std::string::npos ? 0 : name_at + 1;
  if (search.find('?', name_at) != std::string::npos) {
    state_->filter = search.substr(name_at);
    for (std::string::size_type i = name_at; i < search.size(); ++i) {
      if (search[i] == '?') search[i] = '*';
    }
  }

  if (FolderIsReparsePoint(search, name_at)) {
    ::SetLastError(ERROR_CANT_ACCESS_FILE);
    return SearchStep::kFailed;
  }
  WIN32_FIND_DATAA data{};
  state_->find = FindFirstFileA(search.c_str(), &data);
  if (state_->find == INVALID_HANDLE_VALUE) return Failure();
  if (Accepted(state_->filter, data)) {
    Fill(data, entry);
    return SearchStep::kEntry;
  }
  return Next(entry);
}

SearchStep DirSearch::Next(DirEntry& entry) {
  if (!state_ || state_->find == INVALID_HANDLE_VALUE) {
    ::SetLastError(ERROR_INVALID_HANDLE);  // no search was started
    return SearchStep::kFailed;
  }
  WIN32_FIND_DATAA data{};
  do {
    if (!FindNextFileA(state_->find, &data)) return Failure();
  } while (!Accepted(state_->filter, data));
  Fill(data, entry);
  return SearchStep::kEntry;
}

}  // namespace vemtu::platform
