// The cipher key and the user the runs are made as: a key only another user may read
// leaves every credential undecipherable, and one chown fixes it.
#pragma once

#include <string>

#include "folder_state.h"

namespace vemtu::check {

struct KeyOwnership {
  std::string file;      // the key file
  FileOwner owner;       // its owner, group and mode (unknown on Windows)
  std::string run_user;  // who the runs are made as; empty when unknown
};

// True when the key belongs to a user other than the runs': `cause` then names its owner,
// group and mode, and `fix` the chown that hands it over.
bool KeyHeldByAnother(const KeyOwnership& key, std::string& cause, std::string& fix);

}  // namespace vemtu::check
