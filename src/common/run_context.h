// The process-wide record of one run: what start-up and configuration establish and
// what the posting pipeline and the transport read. Made by the entry point and passed
// by reference; capacities count the terminating zero.
#pragma once

#include <memory>
#include <string>

#include "common/fixed_text.h"
#include "common/lock.h"

namespace vemtu {

namespace platform {
class AgentFolder;  // the held agent folder (platform/agent_folder.h)
class ProfileFiles;  // the run's INI files (platform/profile.h)
}

constexpr std::size_t kPathCapacity = 360;  // 359 characters + terminating zero

using PathText = FixedText<kPathCapacity>;

struct RunContext {
  // --- Paths (start-up) ---
  PathText exe_dir;              // executable folder, no trailing separator
  PathText quoted_exe_path;      // "\"" + full executable path + "\""
  PathText config_ini_path;      // posting configuration INI
  PathText run_log_path;         // run log of the category
  PathText agent_ini_path;       // agent INI
  FixedText<720> category_ini_path;
  PathText category_folder;
  PathText error_folder;
  PathText category;             // the category name as typed (or "AlertTkt")
  // The agent folder with the category and Error folders held for the run; none before
  // start-up has opened it (every step then resolves its path alone).
  std::shared_ptr<platform::AgentFolder> folder;
  // The INI files, read and written through that folder with the run's bounded lock waits.
  std::shared_ptr<platform::ProfileFiles> profiles;

  // --- Identity and sites (configuration) ---
  PathText registration_id;
  PathText member_id;
  PathText site_id;
  PathText agent_type;
  PathText primary_site_url;
  PathText secondary_site_url;

  // --- Proxy (configuration) ---
  PathText proxy_address;
  FixedText<104> proxy_port;
  std::string proxy_user_name;   // clear text, initially empty
  std::string proxy_password;    // clear text, initially empty

  // --- Transport ---
  bool winhttp_available = false;
  // The operator's choice: the WinINet methods check server certificates as WinHTTP does
  // (by default they accept any certificate).
  bool wininet_checks_certificates = false;

  // --- Instance lock: "RHOVAN_KOLT_MUTEX" + category; none when not created ---
  std::unique_ptr<InterProcessLock> instance_lock;

  // --- Posting ---
  // How long a file that no lease can hold (another user's, without the lease right) must
  // have stayed unchanged before it is posted.
  unsigned long unleased_settle_ms = 5000;
  PathText transfer_log_path;    // transfer log of the file being posted
};

}  // namespace vemtu
