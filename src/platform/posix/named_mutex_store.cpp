// The lock store: choosing and checking its folder, and opening or making the table in it.
#include "platform/posix/named_mutex_store.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/posix/no_follow.h"

namespace vemtu::platform::named_mutex_detail {
namespace {

using posix_detail::Descriptor;

constexpr char kRunFolder[] = "/run/vemtu";
// Below the agent folder, for a run that cannot use kRunFolder.
const char* const kOwnFolderPath[] = {"Configuration", "WebPost", "Locks"};

// True when no user outside `rights` can change what the folder or file `st` holds.
bool OnlyAgentUsersWrite(const struct stat& st, const LockRights& rights) {
  const bool everyone = (rights.mode & 0006) != 0;
  if (everyone) return true;
  const bool owner_trusted = st.st_uid == 0 || st.st_uid == geteuid() || st.st_uid == rights.owner;
  const bool group_trusted =
      (st.st_mode & S_IWGRP) == 0 || ((rights.mode & 0060) && st.st_gid == rights.group);
  return owner_trusted && group_trusted && (st.st_mode & S_IWOTH) == 0;
}

// Opens the folder `at`/`name` when it is a folder only the agent's users may change.
int OpenTrustedFolder(int at, const char* name, const LockRights& rights) {
  Descriptor folder(openat(at, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (folder.get() < 0) return -1;
  struct stat st;
  if (fstat(folder.get(), &st) != 0) return -1;
  if (!S_ISDIR(st.st_mode) || !OnlyAgentUsersWrite(st, rights)) {
    errno = EACCES;
    return -1;
  }
  return folder.release();
}

// kOwnFolderPath below the agent folder, made where missing: the last folder with the
// agent folder's rights, the others as the agent makes its configuration folders.
int OpenOwnFolder(const std::string& agent_folder, const LockRights& rights, bool make) {
  Descriptor at(posix_detail::OpenFolderNoFollow(agent_folder));
  for (const char* name : kOwnFolderPath) {
    if (at.get() < 0) return -1;
    const bool last = name == kOwnFolderPath[2];
    const mode_t mode = last ? (rights.mode | ((rights.mode & 0666) >> 1)) : 0755;
    if (make && mkdirat(at.get(), name, mode) == 0 && last) {
      Descriptor made(openat(at.get(), name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
      if (made.get() >= 0 && (rights.mode & 0060)) {
        (void)!fchown(made.get(), static_cast<uid_t>(-1), rights.group);
      }
      if (made.get() >= 0) fchmod(made.get(), mode);  // whatever the umask took away
    }
    at = Descriptor(last ? OpenTrustedFolder(at.get(), name, rights)
                         : openat(at.get(), name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  }
  return at.release();
}

// `/run/vemtu`, opened when it is trusted; a run as root makes it when missing.
int OpenRunFolder(const LockRights& rights, bool make) {
  if (make && geteuid() == 0 && mkdir(kRunFolder, 0755) == 0) {
    Descriptor made(open(kRunFolder, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (made.get() >= 0) fchmod(made.get(), 0755);  // whatever the umask took away
  }
  return OpenTrustedFolder(AT_FDCWD, kRunFolder, rights);
}

// Gives a table that no other process can see yet the agent's rights: root hands it to
// the folder's owner; anyone makes it exactly as open as asked, whatever the umask took.
void ApplyRights(int fd, const LockRights& rights) {
  if (geteuid() == 0) {
    (void)!fchown(fd, rights.owner, rights.group);
  } else if (rights.mode & 0060) {
    (void)!fchown(fd, static_cast<uid_t>(-1), rights.group);
  }
  fchmod(fd, rights.mode);
}

// True when the open table `st` may be mapped: a plain file of the table's size, with one
// name, that only the users of `rights` can change.
bool TableAllowed(const struct stat& st, const LockRights& rights) {
  return S_ISREG(st.st_mode) && st.st_nlink == 1 &&
         st.st_size == static_cast<off_t>(sizeof(LockTable)) &&
         (st.st_mode & 0777 & ~rights.mode) == 0 && OnlyAgentUsersWrite(st, rights);
}

// Maps the table `name` of `folder`; nullptr with errno set (ENOENT: there is none).
LockTable* MapExisting(int folder, const std::string& name, const LockRights& rights,
                       bool writable) {
  // Non-blocking, so that a FIFO put in its place cannot hold the open.
  Descriptor fd(openat(folder, name.c_str(),
                       (writable ? O_RDWR : O_RDONLY) | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  if (fd.get() < 0) return nullptr;
  struct stat st;
  if (fstat(fd.get(), &st) != 0) return nullptr;
  if (!TableAllowed(st, rights)) {
    errno = EACCES;
    return nullptr;
  }
  void* map = mmap(nullptr, sizeof(LockTable), writable ? PROT_READ | PROT_WRITE : PROT_READ,
                   MAP_SHARED, fd.get(), 0);
  if (map == MAP_FAILED) return nullptr;
  auto* table = static_cast<LockTable*>(map);
  if (!TableReady(*table)) {
    munmap(map, sizeof(LockTable));
    errno = EINVAL;
    return nullptr;
  }
  return table;
}

// Makes the table `name` in `folder` whole under a name of its own, then links it in, so
// that no process ever sees it half made. nullptr with EEXIST when another process linked
// its table first.
LockTable* MakeTable(int folder, const std::string& name, const LockRights& rights) {
  const std::string draft = name + ".new." + std::to_string(getpid());
  unlinkat(folder, draft.c_str(), 0);  // left by a killed process that had this id
  Descriptor fd(openat(folder, draft.c_str(),
                       O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
  if (fd.get() < 0) return nullptr;
  void* map = MAP_FAILED;
  if (ftruncate(fd.get(), sizeof(LockTable)) == 0) {
    map = mmap(nullptr, sizeof(LockTable), PROT_READ | PROT_WRITE, MAP_SHARED, fd.get(), 0);
  }
  bool made = map != MAP_FAILED && InitTable(*static_cast<LockTable*>(map));
  if (made) {
    ApplyRights(fd.get(), rights);
    made = linkat(folder, draft.c_str(), folder, name.c_str(), 0) == 0;
  }
  const int saved = errno;
  unlinkat(folder, draft.c_str(), 0);
  if (!made && map != MAP_FAILED) munmap(map, sizeof(LockTable));
  errno = saved;
  return made ? static_cast<LockTable*>(map) : nullptr;
}

// Removes the tables of earlier boots from `folder` (a folder on disk keeps them across
// restarts); `current` is this boot's table name.
void RemoveEarlierBoots(int folder, const std::string& current) {
  const std::string boot = current.substr(0, current.find('-', 6) + 1);  // "locks-<boot>-"
  DIR* listing = fdopendir(dup(folder));
  if (!listing) return;
  while (const dirent* entry = readdir(listing)) {
    const std::string name = entry->d_name;
    if (name.rfind("locks-", 0) == 0 && name.rfind(boot, 0) != 0) {
      unlinkat(folder, name.c_str(), 0);
    }
  }
  closedir(listing);
}

// The table of `rights` in the store folder `folder`: mapped read-write and made when
// missing when `make`, else mapped read-only.
LockTable* MapIn(int folder, const LockRights& rights, bool make) {
  const std::string name = TableName(rights);
  for (int attempt = 0; attempt < 3; ++attempt) {
    LockTable* table = MapExisting(folder, name, rights, make);
    if (table || errno != ENOENT || !make) return table;
    table = MakeTable(folder, name, rights);
    if (table) RemoveEarlierBoots(folder, name);
    if (table || errno != EEXIST) return table;
  }
  errno = EAGAIN;
  return nullptr;
}

// The store folders in their order (see named_mutex_store.h): a run as root goes no
// further than `/run/vemtu`; another run goes on to a folder of its own when it can
// neither find nor make its table there.
LockTable* FindTable(const std::string& agent_folder, const LockRights& rights, bool make) {
  const char* runtime = std::getenv("RUNTIME_DIRECTORY");
  if (runtime && *runtime) {
    // systemd lists one folder per RuntimeDirectory= name, separated by ':'.
    const std::string first(runtime, std::strcspn(runtime, ":"));
    Descriptor folder(OpenTrustedFolder(AT_FDCWD, first.c_str(), rights));
    return folder.get() < 0 ? nullptr : MapIn(folder.get(), rights, make);
  }
  {
    Descriptor folder(OpenRunFolder(rights, make));
    LockTable* table = folder.get() < 0 ? nullptr : MapIn(folder.get(), rights, make);
    if (table || geteuid() == 0) return table;
  }
  Descriptor own(OpenOwnFolder(agent_folder, rights, make));
  return own.get() < 0 ? nullptr : MapIn(own.get(), rights, make);
}

}  // namespace

std::string TableName(const LockRights& rights) {
  char boot[40] = {};
  if (FILE* file = std::fopen("/proc/sys/kernel/random/boot_id", "re")) {
    if (!std::fgets(boot, sizeof boot, file)) boot[0] = '\0';
    std::fclose(file);
  }
  boot[std::strcspn(boot, "-\n")] = '\0';  // the first group of hex digits
  if (boot[0] == '\0') std::snprintf(boot, sizeof boot, "noboot");
  char name[96];
  if (rights.mode & 0060) {
    std::snprintf(name, sizeof name, "locks-%s-u%u-g%u-%03o", boot, unsigned(rights.owner),
                  unsigned(rights.group), unsigned(rights.mode));
  } else {
    std::snprintf(name, sizeof name, "locks-%s-u%u-%03o", boot, unsigned(rights.owner),
                  unsigned(rights.mode));
  }
  return name;
}

LockRights RightsForFolder(const std::string& folder) {
  LockRights rights;
  struct stat st;
  if (folder.empty() || stat(folder.c_str(), &st) != 0) {
    rights.owner = geteuid();
    rights.group = getegid();
    return rights;
  }
  rights.owner = st.st_uid;
  rights.group = st.st_gid;
  if (st.st_mode & S_IWGRP) rights.mode |= 0060;
  if (st.st_mode & S_IWOTH) rights.mode |= 0006;
  return rights;
}

LockTable* MapTable(const std::string& agent_folder, const LockRights& rights) {
  return FindTable(agent_folder, rights, true);
}

const LockTable* MapTableToLook(const std::string& agent_folder, const LockRights& rights) {
  return FindTable(agent_folder, rights, false);
}

void UnmapTable(const LockTable* table) {
  if (table) munmap(const_cast<LockTable*>(table), sizeof(LockTable));
}

}  // namespace vemtu::platform::named_mutex_detail
