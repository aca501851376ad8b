// The agent folder's access rights as the installer sets them: the folders and what each
// one gets, made and set through held handles (held_folder.h).
#pragma once

#include <string>

namespace vemtu::rights {

// Makes and secures the agent folder's tree below `agent` and the cipher key folder
// `key_folder` (none when empty) for the writers' group `writers` (a name, or "*" and a
// SID), and keeps `writers` in the registry once all is set. 0 on success; 1 when a
// folder was refused or could not be set, each problem then a line of `report`.
int ApplyFolderRights(const std::wstring& agent, const std::wstring& writers,
                      const std::wstring& key_folder, std::wstring& report);

}  // namespace vemtu::rights
