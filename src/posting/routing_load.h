// Filling the routing table and the priority queue once per run, under the category's
// post database lock.
#pragma once

#include <string>
#include <string_view>

#include "platform/agent_folder.h"
#include "posting/routing_table.h"

namespace vemtu {

constexpr unsigned long kPostDatabaseLockWaitMs = 30000;

enum class RoutingLoad {
  kLoaded,          // the lock was held while the files were read
  kLockNotObtained, // the lock was not obtained in time: the table stays empty
  kLockNotCreated,  // the lock could not be created: the run ends
  kNotLoaded,       // the category loads no table (Configuration, or an unknown word)
};

inline const char* Describe(RoutingLoad load) {
  switch (load) {
    case RoutingLoad::kLoaded: return "loaded";
    case RoutingLoad::kLockNotObtained: return "lock not obtained";
    case RoutingLoad::kLockNotCreated: return "lock not created";
    case RoutingLoad::kNotLoaded: return "not loaded";
  }
  return "?";
}

// "WebPostDB_BIN_AlertTkt" for AlertTkt; "WebPostDB_BIN_Status" for Status and
// ATPostLogs alike (any letter case); empty for every other category.
std::string PostDatabaseLockName(std::string_view category);

// Post database path: `config_dir` + separator + "WebPostDB_" + category + ".bin".
std::string PostDatabasePath(const std::string& config_dir, std::string_view category);

// Under the post database lock (at most 30000 ms): the post database in `config_dir`;
// when that leaves the table empty, Reprioritize.XML and then DNSSpecific.XML.
// A non-empty table from the post database turns the rules off. The files are opened
// through `folder` (the run's, holding the configuration folder).
RoutingLoad LoadRoutingTable(RoutingTable& table, std::string_view category,
                             const std::string& config_dir,
                             const platform::AgentFolder& folder = platform::FolderOrUnrooted(nullptr));

}  // namespace vemtu
