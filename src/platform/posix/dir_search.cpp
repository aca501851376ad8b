// Directory search: readdir over the folder, each name tested with WildcardMatch, the
// size and kind of each match read with fstatat without following a link. The folder is
// opened without following a link either.
#include "platform/dir_search.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/posix/no_follow.h"

namespace vemtu::platform {

struct DirSearch::State {
  DIR* dir = nullptr;
  std::string pattern;

  ~State() {
    if (dir) closedir(dir);
  }
};

DirSearch::DirSearch() = default;
DirSearch::~DirSearch() = default;
DirSearch::DirSearch(DirSearch&&) noexcept = default;
DirSearch& DirSearch::operator=(DirSearch&&) noexcept = default;

namespace {

// Fetches the next entry of `dir` whose name matches `pattern`.
SearchStep NextMatch(DIR* dir, const std::string& pattern, DirEntry& entry) {
  for (;;) {
    errno = 0;
    const dirent* d = readdir(dir);
    if (!d) return errno == 0 ? SearchStep::kNoMore : SearchStep::kFailed;
    std::string name = d->d_name;
    if (!WildcardMatch(pattern, name)) continue;
    entry.name = std::move(name);
    entry.is_directory = false;
    entry.is_link = false;
    entry.size = 0;
    struct stat st;
    if (fstatat(dirfd(dir), d->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0) {
      entry.is_link = S_ISLNK(st.st_mode);
      entry.is_directory = S_ISDIR(st.st_mode);
      if (S_ISREG(st.st_mode)) entry.size = static_cast<std::uint64_t>(st.st_size);
    } else {
      entry.is_link = d->d_type == DT_LNK;
      entry.is_directory = d->d_type == DT_DIR;
    }
    return SearchStep::kEntry;
  }
}

}  // namespace

SearchStep DirSearch::First(const std::string& folder_and_pattern, DirEntry& entry) {
  state_.reset();
  std::string folder = ".";
  std::string pattern = folder_and_pattern;
  std::size_t cut = folder_and_pattern.rfind('/');
  if (cut != std::string::npos) {
    folder = cut == 0 ? "/" : folder_and_pattern.substr(0, cut);
    pattern = folder_and_pattern.substr(cut + 1);
  }
  if (pattern.empty()) {
    errno = ENOENT;
    return SearchStep::kFailed;
  }
  int fd = posix_detail::OpenBeneath(AT_FDCWD, folder, O_RDONLY | O_DIRECTORY);
  if (fd < 0) return SearchStep::kFailed;
  return FirstIn(fd, pattern, entry);
}

SearchStep DirSearch::FirstIn(std::intptr_t folder, const std::string& pattern,
                              DirEntry& entry) {
  state_.reset();
  int fd = static_cast<int>(folder);
  DIR* dir = fdopendir(fd);
  if (!dir) {
    int error = errno;
    close(fd);
    errno = error;
    return SearchStep::kFailed;
  }
  state_ = std::make_unique<State>();
  state_->dir = dir;
  state_->pattern = pattern;
  SearchStep step = NextMatch(dir, state_->pattern, entry);
  if (step == SearchStep::kNoMore) errno = ENOENT;  // as Windows: no file matched
  return step;
}

SearchStep DirSearch::Next(DirEntry& entry) {
  if (!state_) {
    errno = EBADF;
    return SearchStep::kFailed;
  }
  return NextMatch(state_->dir, state_->pattern, entry);
}

}  // namespace vemtu::platform
