// Directory listing through FindFirstFileA / FindNextFileA; the system applies the
// wildcard rules itself (including its matches through short 8.3 names).
#include "platform/dir_search.h"

#include <windows.h>

namespace vemtu::platform {

struct DirSearch::State {
  HANDLE find = INVALID_HANDLE_VALUE;

  void Close() {
    if (find != INVALID_HANDLE_VALUE) FindClose(find);
    find = INVALID_HANDLE_VALUE;
  }
  ~State() { Close(); }
};

namespace {

void Fill(const WIN32_FIND_DATAA& data, DirEntry& entry) {
  entry.name = data.cFileName;
  entry.is_directory = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  entry.size = (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

// An empty folder or no match is the end of the listing, not a failure.
SearchStep Failure() {
  DWORD error = GetLastError();
  if (error == ERROR_NO_MORE_FILES || error == ERROR_FILE_NOT_FOUND) return SearchStep::kNoMore;
  return SearchStep::kFailed;
}

}  // namespace

DirSearch::DirSearch() : state_(std::make_unique<State>()) {}
DirSearch::~DirSearch() = default;
DirSearch::DirSearch(DirSearch&&) noexcept = default;
DirSearch& DirSearch::operator=(DirSearch&&) noexcept = default;

SearchStep DirSearch::First(const std::string& folder_and_pattern, DirEntry& entry) {
  if (!state_) state_ = std::make_unique<State>();
  state_->Close();
  WIN32_FIND_DATAA data{};
  state_->find = FindFirstFileA(folder_and_pattern.c_str(), &data);
  if (state_->find == INVALID_HANDLE_VALUE) return Failure();
  Fill(data, entry);
  return SearchStep::kEntry;
}

SearchStep DirSearch::Next(DirEntry& entry) {
  if (!state_ || state_->find == INVALID_HANDLE_VALUE) {
    ::SetLastError(ERROR_NO_MORE_FILES);
    return SearchStep::kNoMore;
  }
  WIN32_FIND_DATAA data{};
  if (!FindNextFileA(state_->find, &data)) return Failure();
  Fill(data, entry);
  return SearchStep::kEntry;
}

}  // namespace vemtu::platform
