// The held agent folder on Linux: a handle on the agent folder and on each folder held
// below it; every step on a path inside one acts relative to its handle (openat,
// fstatat, unlinkat, renameat2, mkdirat), never following a link in what is left.
#include "platform/agent_folder.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <linux/fs.h>
#include <strings.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <vector>

#include "platform/posix/no_follow.h"

namespace vemtu::platform {

using posix_detail::Descriptor;
using posix_detail::OpenBeneath;
using posix_detail::OpenRetrying;

namespace {

struct HeldFolder {
  std::string path;  // the run's text for it
  int fd;
};

using HeldFolders = std::vector<HeldFolder>;

}  // namespace

struct AgentFolder::State {
  HeldFolders held;  // the agent folder first

  ~State() {
    for (const HeldFolder& folder : held) ::close(folder.fd);
  }
};

namespace {

// Where a step acts: `base` (a held folder, or AT_FDCWD) and the path left below it
// (empty: the held folder itself).
struct Place {
  int base = AT_FDCWD;
  std::string rest;
};

// The folder handle and name a leaf step acts on.
struct Leaf {
  Descriptor owned;  // when the folder was opened for this step alone
  int folder = -1;
  std::string name;
};

bool PlainName(const std::string& name) {
  return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos;
}

Leaf LeafOf(const Place& place) {
  Leaf leaf;
  std::size_t cut = place.rest.rfind('/');
  if (cut == std::string::npos) {
    leaf.folder = place.base;
    leaf.name = place.rest;
  } else {
    leaf.owned = Descriptor(
        OpenBeneath(place.base, cut == 0 ? "/" : place.rest.substr(0, cut), O_PATH | O_DIRECTORY));
    leaf.folder = leaf.owned.get();
    leaf.name = place.rest.substr(cut + 1);
  }
  if (leaf.folder < 0 && leaf.folder != AT_FDCWD) return leaf;
  if (!PlainName(leaf.name)) {
    leaf.folder = -1;
    errno = EINVAL;
  }
  return leaf;
}

bool Usable(const Leaf& leaf) { return leaf.folder >= 0 || leaf.folder == AT_FDCWD; }

FileIdentity IdentityIn(const Leaf& leaf) {
  struct stat st;
  if (!Usable(leaf) || fstatat(leaf.folder, leaf.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
    return {};
  }
  return posix_detail::IdentityOf(st);
}

int OpenFlags(OpenMode mode) {
  // O_NONBLOCK: a FIFO or device must not hold the open up; it is refused after the open.
  int flags = O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK;
  switch (mode) {
    case OpenMode::kReadExisting: flags |= O_RDONLY; break;
    case OpenMode::kReadWriteExisting: flags |= O_RDWR; break;
    case OpenMode::kReadWriteAlways: flags |= O_RDWR | O_CREAT; break;
    case OpenMode::kWriteTruncate:
    case OpenMode::kWriteTruncateUnshared: flags |= O_WRONLY | O_CREAT | O_TRUNC; break;
    case OpenMode::kAppendAlways: flags |= O_WRONLY | O_APPEND | O_CREAT; break;
    // O_EXCL with O_CREAT also refuses a link of that name, dangling or not.
    case OpenMode::kCreateNew: flags |= O_RDWR | O_CREAT | O_EXCL; break;
  }
  return flags;
}

// Opens through `open` with `flags`; where they may create the file, tells whether this
// open made it (`created`), by opening an existing file without O_CREAT and making a
// missing one with O_EXCL, so that a file made by another meanwhile is opened as such.
template <typename Opener>
int OpenOrCreate(const Opener& open, int flags, bool& created) {
  created = false;
  if (!(flags & O_CREAT)) return open(flags);
  if (flags & O_EXCL) {
    int fd = open(flags);
    created = fd >= 0;
    return fd;
  }
  constexpr int kRaceTries = 8;  // a name made and removed again by another, over and over
  for (int tries = 0; tries < kRaceTries; ++tries) {
    int fd = open(flags & ~O_CREAT);
    if (fd >= 0 || errno != ENOENT) return fd;
    fd = open(flags | O_EXCL);
    if (fd >= 0 || errno != EEXIST) {
      created = fd >= 0;
      return fd;
    }
  }
  return -1;
}

// The name in `folder` that equals `name` but for letter case, when it is a folder (not
// a link); empty when there is none.
std::string FolderNamedIgnoringCase(int folder, const std::string& name) {
  int fd = OpenRetrying(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return {};
  DIR* dir = fdopendir(fd);
  if (!dir) {
    ::close(fd);
    return {};
  }
  std::string found;
  while (const dirent* d = readdir(dir)) {
    struct stat st;
    if (strcasecmp(d->d_name, name.c_str()) == 0 &&
        fstatat(folder, d->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(st.st_mode)) {
      found = d->d_name;
      break;
    }
  }
  closedir(dir);
  return found;
}

// Opens a folder to hold: for listing where the run may read it, else for the *at calls.
int OpenHeld(int parent, const std::string& name) {
  int fd = OpenRetrying(parent, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0 && errno == EACCES) {
    fd = OpenRetrying(parent, name.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  }
  return fd;
}

}  // namespace

AgentFolder::AgentFolder() = default;
AgentFolder::~AgentFolder() = default;
AgentFolder::AgentFolder(AgentFolder&&) noexcept = default;
AgentFolder& AgentFolder::operator=(AgentFolder&&) noexcept = default;

AgentFolder AgentFolder::Open(const std::string& root) {
  AgentFolder folder;
  int fd = OpenBeneath(AT_FDCWD, root, O_RDONLY | O_DIRECTORY);
  if (fd < 0 && errno == EACCES) fd = OpenBeneath(AT_FDCWD, root, O_PATH | O_DIRECTORY);
  if (fd < 0) return folder;
  folder.state_ = std::make_unique<State>();
  folder.state_->held.push_back({root, fd});
  return folder;
}

bool AgentFolder::IsOpen() const { return state_ != nullptr; }

namespace {

// The deepest held folder that holds `path` (or is it), and what is left below it; a
// path outside them all is resolved as given.
Place PlaceOf(const HeldFolders* held, const std::string& path) {
  Place place{AT_FDCWD, path};
  if (!held) return place;
  std::size_t best = 0;
  for (const HeldFolder& folder : *held) {
    const std::string& h = folder.path;
    if (h.size() < best || path.compare(0, h.size(), h) != 0) continue;
    if (path.size() == h.size()) {
      place = {folder.fd, std::string()};
    } else if (path[h.size()] == '/') {
      place = {folder.fd, path.substr(h.size() + 1)};
    } else {
      continue;
    }
    best = h.size();
  }
  return place;
}

// The held folders of a folder's state; none for an unrooted folder.
template <typename State>
const HeldFolders* HeldIn(const std::unique_ptr<State>& state) {
  return state ? &state->held : nullptr;
}

}  // namespace

bool AgentFolder::HoldFolder(const std::string& path) {
  const Place place = PlaceOf(HeldIn(state_), path);
  if (place.base == AT_FDCWD || !PlainName(place.rest)) {
    errno = EXDEV;  // only a folder directly inside one held already
    return false;
  }
  std::string name = place.rest;
  struct stat st;
  if (fstatat(place.base, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
    std::string other = FolderNamedIgnoringCase(place.base, name);
    if (!other.empty()) {
      name = other;
    } else if (mkdirat(place.base, name.c_str(), 0777) == 0) {
      posix_detail::HandToAgentOwner(place.base, name);
    } else if (errno != EEXIST) {
      return false;
    }
  }
  int fd = OpenHeld(place.base, name);
  if (fd < 0) return false;
  state_->held.push_back({path, fd});
  return true;
}

bool AgentFolder::SetAttributesNormal(const std::string& path) const {
  Leaf leaf = LeafOf(PlaceOf(HeldIn(state_), path));
  if (!Usable(leaf)) return false;
  struct stat st;
  if (fstatat(leaf.folder, leaf.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return false;
  if (S_ISLNK(st.st_mode)) {
    errno = ELOOP;
    return false;
  }
  if (!S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode)) {
    errno = ENOENT;  // a FIFO or device is not a file of ours
    return false;
  }
  if (st.st_mode & S_IWUSR) return true;
  // Changed through a handle on the very object fstatat saw, so that a link put in its
  // place meanwhile is not followed.
  Descriptor fd(OpenRetrying(leaf.folder, leaf.name.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
  struct stat now;
  if (fd.get() < 0 || fstat(fd.get(), &now) != 0 || now.st_ino != st.st_ino ||
      now.st_dev != st.st_dev || S_ISLNK(now.st_mode)) {
    return false;
  }
  if (!posix_detail::OnlyName(now)) {
    errno = EMLINK;  // a second name may be an outside file linked in: its mode stays
    return false;
  }
  std::string via = "/proc/self/fd/" + std::to_string(fd.get());
  return chmod(via.c_str(), (now.st_mode & 07777) | S_IWUSR) == 0;
}

bool AgentFolder::CreateFolder(const std::string& path) const {
  Leaf leaf = LeafOf(PlaceOf(HeldIn(state_), path));
  if (!Usable(leaf) || mkdirat(leaf.folder, leaf.name.c_str(), 0777) != 0) return false;
  posix_detail::HandToAgentOwner(leaf.folder, leaf.name);
  return true;
}

MoveOutcome AgentFolder::MoveNoReplace(const std::string& from, const std::string& to) const {
  Leaf source = LeafOf(PlaceOf(HeldIn(state_), from));
  Leaf target = LeafOf(PlaceOf(HeldIn(state_), to));
  if (!Usable(source) || !Usable(target)) return MoveOutcome::kFailed;
  const char* old_name = source.name.c_str();
  const char* new_name = target.name.c_str();
  if (renameat2(source.folder, old_name, target.folder, new_name, RENAME_NOREPLACE) == 0) {
    return MoveOutcome::kMoved;
  }
  if (errno == EEXIST) return MoveOutcome::kExists;
  if (errno != EINVAL && errno != ENOSYS) return MoveOutcome::kFailed;
  // A file system without the no-replace rename: a second name, then the old one goes.
  // linkat never follows a link given as the source.
  if (linkat(source.folder, old_name, target.folder, new_name, 0) != 0) {
    return errno == EEXIST ? MoveOutcome::kExists : MoveOutcome::kFailed;
  }
  if (unlinkat(source.folder, old_name, 0) != 0) {
    int error = errno;
    unlinkat(target.folder, new_name, 0);
    errno = error;
    return MoveOutcome::kFailed;
  }
  return MoveOutcome::kMoved;
}

bool AgentFolder::DeleteFileAt(const std::string& path) const {
  Leaf leaf = LeafOf(PlaceOf(HeldIn(state_), path));
  if (!Usable(leaf)) return false;
  // unlinkat without AT_REMOVEDIR never removes a folder (EISDIR), as deleting a file must not.
  return unlinkat(leaf.folder, leaf.name.c_str(), 0) == 0;
}

FileIdentity AgentFolder::IdentityAt(const std::string& path) const {
  return IdentityIn(LeafOf(PlaceOf(HeldIn(state_), path)));
}

bool AgentFolder::DeleteIfUnchanged(const std::string& path,
                                    const FileIdentity& expected) const {
  // The file is first moved to a name no writer uses, so that the name it is checked
  // under and the name that is deleted are one: a new version renamed over the posted
  // file meanwhile keeps its name and is never the one deleted. The private name holds
  // no "_": a run that ends before the delete leaves a file that the next run moves to
  // the Error folder rather than posts again.
  const std::size_t cut = path.rfind('/');
  const std::string folder = cut == std::string::npos ? std::string() : path.substr(0, cut + 1);
  const std::string aside = MoveToFreeName(
      path, folder + ".vemtu-deleting-" + std::to_string(getpid()), std::string::npos);
  if (aside.empty()) return false;
  Leaf moved = LeafOf(PlaceOf(HeldIn(state_), aside));
  int error = ESTALE;
  if (IdentityIn(moved) == expected) {
    if (Usable(moved) && unlinkat(moved.folder, moved.name.c_str(), 0) == 0) return true;
    error = errno;
  }
  // Not the file that was read (or not deletable): back under its name, or, when a new
  // file has taken that name, under the first free numbered one.
  MoveToFreeName(aside, path, std::string::npos);
  errno = error;
  return false;
}

File AgentFolder::Open(const std::string& path, OpenMode mode) const {
  const Place place = PlaceOf(HeldIn(state_), path);
  if (place.rest.empty()) {
    errno = EISDIR;
    return File();
  }
  // Emptied only once it is known to have no other name.
  const bool truncate = (OpenFlags(mode) & O_TRUNC) != 0;
  const int flags = OpenFlags(mode) & ~O_TRUNC;
  const bool in_held = place.base != AT_FDCWD && place.rest.find('/') == std::string::npos;
  bool created = false;
  Descriptor fd(OpenOrCreate(
      [&](int with) {
        return in_held ? OpenRetrying(place.base, place.rest.c_str(), with)
                       : OpenBeneath(place.base, place.rest, with);
      },
      flags, created));
  if (fd.get() < 0) return File();
  // Only a file this run made is handed over: an existing one keeps its owner.
  if (created) posix_detail::HandToAgentOwner(fd.get());
  // O_EXCL made a new regular file of one name: there is nothing to check, and its
  // identity is taken once it has been written.
  if (mode == OpenMode::kCreateNew) return File(fd.release(), FileIdentity{});
  struct stat st;
  if (fstat(fd.get(), &st) != 0) return File();
  if (!S_ISREG(st.st_mode)) {
    // A folder, FIFO, socket or device: as if no file were there (a folder as Windows
    // refuses it).
    errno = S_ISDIR(st.st_mode) ? EISDIR : ENOENT;
    return File();
  }
  if ((flags & O_ACCMODE) != O_RDONLY) {
    // A file with a second name may be one outside the agent folder: never written
    // where anyone may link any file.
    if (st.st_nlink > 1 && !SecondNamesHarmless()) {
      errno = EMLINK;
      return File();
    }
    // An empty file is left as it is: on ext4 emptying even an empty file has its next
    // content forced to disk when it is closed.
    if (truncate && st.st_size != 0) {
      if (ftruncate(fd.get(), 0) != 0) return File();
      st.st_size = 0;
    }
  }
  return File(fd.release(), posix_detail::IdentityOf(st));
}

SearchStep AgentFolder::First(DirSearch& search, const std::string& folder_and_pattern,
                              DirEntry& entry) const {
  std::size_t cut = folder_and_pattern.rfind('/');
  if (cut == std::string::npos || cut + 1 == folder_and_pattern.size() || !state_) {
    return search.First(folder_and_pattern, entry);
  }
  const Place place = PlaceOf(HeldIn(state_), folder_and_pattern.substr(0, cut));
  int fd = place.rest.empty()
               ? OpenRetrying(place.base, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC)
               : OpenBeneath(place.base, place.rest, O_RDONLY | O_DIRECTORY);
  if (fd < 0) {
    search = DirSearch();
    return SearchStep::kFailed;
  }
  return search.FirstIn(fd, folder_and_pattern.substr(cut + 1), entry);
}

namespace {

bool DeleteRefusedByFlags(int fd) {
  int flags = 0;
  return ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0 && (flags & (FS_IMMUTABLE_FL | FS_APPEND_FL));
}

}  // namespace

bool AgentFolder::CanDelete(const std::string& path, const File& file) const {
  Leaf leaf = LeafOf(PlaceOf(HeldIn(state_), path));
  if (!Usable(leaf)) return false;
  const int fd = static_cast<int>(file.handle_);
  // Write and search rights on the folder for the run's own user: refused on a read-only
  // file system (EROFS) and for an immutable folder (EPERM) even to root.
  if (faccessat(leaf.folder, ".", W_OK | X_OK, AT_EACCESS) != 0) return false;
  // An immutable or append-only file, or such a folder, refuses the delete even to root.
  // (The folder's flags need a handle that can read it: a folder held for the *at calls
  // alone is opened again for them.)
  Descriptor folder(OpenRetrying(leaf.folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (DeleteRefusedByFlags(fd) || (folder.get() >= 0 && DeleteRefusedByFlags(folder.get()))) {
    errno = EPERM;
    return false;
  }
  // In a sticky folder only the owner of the file or of the folder (or root) may delete.
  static const uid_t me = geteuid();
  struct stat folder_stat;
  struct stat file_stat;
  if (me != 0 && fstatat(leaf.folder, ".", &folder_stat, 0) == 0 &&
      (folder_stat.st_mode & S_ISVTX) && fstat(fd, &file_stat) == 0 &&
      folder_stat.st_uid != me && file_stat.st_uid != me) {
    errno = EACCES;
    return false;
  }
  return true;
}

const AgentFolder& FolderOrUnrooted(const std::shared_ptr<AgentFolder>& folder) {
  static const AgentFolder unrooted;
  return folder ? *folder : unrooted;
}

namespace {

bool ReadProtectedHardlinks() {
  Descriptor fd(OpenRetrying(AT_FDCWD, "/proc/sys/fs/protected_hardlinks", O_RDONLY | O_CLOEXEC));
  char value = 0;
  return fd.get() >= 0 && ::read(fd.get(), &value, 1) == 1 && value == '1';
}

}  // namespace

bool SecondNamesHarmless() {
  // Read once: a run does not outlast a change of the setting in any way that matters.
  static const bool harmless = ReadProtectedHardlinks();
  return harmless;
}

bool HeldByWriter(int error_number) { return error_number == EAGAIN; }

bool NoSuchFile(int error_number) { return error_number == ENOENT; }

}  // namespace vemtu::platform
