#include <errno.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include "folder_state.h"

namespace vemtu::check {

FolderState InspectFolder(const std::string& path) {
  FolderState state;
  struct stat info {};
  if (::lstat(path.c_str(), &info) != 0) return state;
  state.is_link = S_ISLNK(info.st_mode);
  state.exists = state.is_link || S_ISDIR(info.st_mode);
  state.writable = S_ISDIR(info.st_mode) && ::access(path.c_str(), W_OK | X_OK) == 0;
  state.readable = S_ISDIR(info.st_mode) && ::access(path.c_str(), R_OK | X_OK) == 0;
  return state;
}

DiskState InspectDisk(const std::string& folder) {
  DiskState disk;
  struct statvfs info {};
  if (::statvfs(folder.c_str(), &info) != 0) return disk;
  disk.known = true;
  disk.free_bytes = static_cast<std::uint64_t>(info.f_bavail) * info.f_frsize;
  // A read-only mount says so; access() also sees one that the flags do not show.
  disk.read_only = (info.f_flag & ST_RDONLY) != 0 ||
                   (::access(folder.c_str(), W_OK) != 0 && errno == EROFS);
  return disk;
}

EntryKind KindOf(const std::string& path) {
  struct stat info {};
  if (::lstat(path.c_str(), &info) != 0) return EntryKind::kMissing;
  if (S_ISLNK(info.st_mode)) return EntryKind::kLink;
  if (S_ISDIR(info.st_mode)) return EntryKind::kFolder;
  return S_ISREG(info.st_mode) ? EntryKind::kFile : EntryKind::kOther;
}

FileOwner OwnerOf(const std::string& path) {
  FileOwner owner;
  struct stat info {};
  if (::lstat(path.c_str(), &info) != 0) return owner;
  owner.known = true;
  owner.mode = info.st_mode & 07777;
  char buffer[4096];
  struct passwd user {}, *user_found = nullptr;
  struct group group {}, *group_found = nullptr;
  owner.user = ::getpwuid_r(info.st_uid, &user, buffer, sizeof buffer, &user_found) == 0 && user_found
                   ? user_found->pw_name
                   : std::to_string(info.st_uid);
  owner.group = ::getgrgid_r(info.st_gid, &group, buffer, sizeof buffer, &group_found) == 0 && group_found
                    ? group_found->gr_name
                    : std::to_string(info.st_gid);
  return owner;
}

}  // namespace vemtu::check
