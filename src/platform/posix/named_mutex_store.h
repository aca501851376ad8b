// Where the lock table lives, and who may use it.
//
// The store folder is one that only the agent's own users can create files in, so that
// no other local user can make a lock first, hold it, or change it:
// - `$RUNTIME_DIRECTORY` when systemd sets it (the unit's `RuntimeDirectory=vemtu`);
// - else `/run/vemtu`, which a run as root makes (owned by root, mode 0755) when it is
//   missing; the tables in it are made by root or by the folder's owner only;
// - else, for a run that is not root and finds no `/run/vemtu`, the folder
//   `Configuration/WebPost/Locks` of its agent folder, made by the run itself with the
//   rights of its agent folder. Its locks then reach the runs of that agent folder only.
// A folder that a user outside the table's rights could write, a link, or a folder
// owned by such a user is refused: every lock of the run fails with EACCES.
//
// Rights: a table is for the users who may run the agent from its folder, that is who
// may write that folder (and can therefore already change what the agent loads): the
// folder's owner, its group when the group may write it, everyone when everyone may.
// Each such set of rights has its own table (named after the owner, group and mode), and
// the table's maker gives it exactly those rights. A table with more rights, owned by
// someone else, not a plain file, or of another size is refused before it is mapped.
// The table's name also carries the machine's boot id: a table kept on disk across a
// restart would still hold the locks of threads that no longer exist.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <string>

#include "platform/posix/named_mutex_table.h"

namespace vemtu::platform::named_mutex_detail {

struct LockRights {
  mode_t mode = 0600;  // 0600, with 0060 and 0006 when the group or everyone may write
  uid_t owner = 0;     // the folder's owner
  gid_t group = 0;     // the folder's group
};

// The rights for the agent in `folder`; 0600 for this user when the folder cannot be read.
LockRights RightsForFolder(const std::string& folder);

// The file name of the table for `rights`: "locks-<boot>-u<owner>[-g<group>]-<mode>".
std::string TableName(const LockRights& rights);

// The table for the agent in `agent_folder`, mapped read-write for the rest of the
// process; made (with the store folder) when missing. nullptr with errno set when the
// store or the table is refused or cannot be made.
LockTable* MapTable(const std::string& agent_folder, const LockRights& rights);

// The same table mapped read-only for a look, or nullptr when there is none: makes
// nothing. Unmap it with UnmapTable.
const LockTable* MapTableToLook(const std::string& agent_folder, const LockRights& rights);
void UnmapTable(const LockTable* table);

}  // namespace vemtu::platform::named_mutex_detail
