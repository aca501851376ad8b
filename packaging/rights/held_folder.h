// Folders opened as themselves for setting their security: a link (junction, symbolic
// link, mount point) is never followed, created through or given rights, and a folder
// owned by someone other than SYSTEM, Administrators or the tool's own user is refused,
// since its owner could change whatever rights are set on it.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "platform/win32/scoped_handle.h"

namespace vemtu::rights {

// Why a folder was not taken.
enum class FolderRefusal {
  kNone,          // taken
  kMissing,       // it could not be made or opened (the error number says why)
  kLink,          // a reparse point, or not a folder
  kForeignOwner,  // owned by someone other than SYSTEM, Administrators or this user
};

const char* Describe(FolderRefusal refusal);

// One folder held open (without delete sharing, so it cannot be renamed or replaced
// while held) with the rights to read and set its owner and access list.
class HeldFolder {
 public:
  // Makes `path` when missing and holds it. A link at `path` is not followed: making a
  // folder there fails and the link itself is opened, judged and refused.
  static HeldFolder MakeAndHold(const std::wstring& path);

  FolderRefusal refusal() const { return refusal_; }
  DWORD error() const { return error_; }
  // The owner's SID as text, when refused for its owner.
  const std::wstring& owner() const { return owner_; }

  // Sets Administrators as owner and `sddl`'s access list, protected from inheritance,
  // on the held handle; the system's error number (0 on success).
  DWORD SetOwnerAndAccess(const std::wstring& sddl) const;

 private:
  platform::win32_detail::ScopedHandle handle_;
  FolderRefusal refusal_ = FolderRefusal::kMissing;
  DWORD error_ = 0;
  std::wstring owner_;
};

// Holds every folder from below the volume's root down to the parent of `path`, refusing
// a reparse point at any level (ownership above the folder is the volume's business).
// False, with `refused` naming the level, when one of them is a link or cannot be opened.
class HeldAncestors {
 public:
  bool Hold(const std::wstring& path, std::wstring& refused);

 private:
  std::vector<platform::win32_detail::ScopedHandle> held_;
};

}  // namespace vemtu::rights
