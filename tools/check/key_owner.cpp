#include "key_owner.h"

#include <cstdio>

namespace vemtu::check {

bool KeyHeldByAnother(const KeyOwnership& key, std::string& cause, std::string& fix) {
  if (!key.owner.known || key.run_user.empty() || key.owner.user == key.run_user) return false;
  char mode[8];
  std::snprintf(mode, sizeof mode, "%04o", key.owner.mode);
  cause = "the key " + key.file + " is " + key.owner.user + ":" + key.owner.group + " " + mode +
          " and the runs are made as " + key.run_user;
  fix = "chown " + key.run_user + " " + key.file;
  return true;
}

}  // namespace vemtu::check
