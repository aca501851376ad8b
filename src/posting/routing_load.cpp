#include "posting/routing_load.h"

#include "common/fixed_text.h"
#include "platform/named_mutex.h"
#include "platform/paths.h"
#include "posting/post_database.h"
#include "posting/rule_files.h"

namespace vemtu {

std::string PostDatabaseLockName(std::string_view category) {
  if (EqualsIgnoreCase(category, "AlertTkt")) return "WebPostDB_BIN_AlertTkt";
  // ATPostLogs has no lock of its own: it shares the Status one.
  if (EqualsIgnoreCase(category, "Status") || EqualsIgnoreCase(category, "ATPostLogs")) {
    return "WebPostDB_BIN_Status";
  }
  return {};
}

std::string PostDatabasePath(const std::string& config_dir, std::string_view category) {
  std::string path = config_dir;
  path += platform::kPathSeparator;
  path += "WebPostDB_";
  path += category;
  path += ".bin";
  return path;
}

RoutingLoad LoadRoutingTable(RoutingTable& table, std::string_view category,
                             const std::string& config_dir, const platform::AgentFolder& folder) {
  std::string lock_name = PostDatabaseLockName(category);
  if (lock_name.empty()) return RoutingLoad::kNotLoaded;

  platform::NamedMutex lock = platform::NamedMutex::Create(lock_name);
  if (!lock.IsValid()) return RoutingLoad::kLockNotCreated;

  WaitResult waited = lock.Wait(kPostDatabaseLockWaitMs);
  if (waited != WaitResult::kAcquired) {
    // An abandoned lock is ours now: hand it back rather than keep it for the whole
    // run, which would stall every other run's load behind this one.
    if (waited == WaitResult::kAbandoned) lock.Release();
    lock.Close();
    return RoutingLoad::kLockNotObtained;
  }

  ReadPostDatabase(table, PostDatabasePath(config_dir, category), folder);
  if (!table.empty()) {
    table.set_rules_enabled(false);
  } else {
    const std::string separator(1, platform::kPathSeparator);
    ReadReprioritizeRules(table, config_dir + separator + "Reprioritize.XML", folder);
    ReadDnsSpecificRules(table, config_dir + separator + "DNSSpecific.XML", folder);
  }
  lock.Release();
  lock.Close();
  return RoutingLoad::kLoaded;
}

}  // namespace vemtu
