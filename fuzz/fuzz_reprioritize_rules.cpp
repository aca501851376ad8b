// Reprioritize.XML scanning over arbitrary text, with the rules on and off.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "posting/rule_files.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  vemtu::RoutingTable table;
  vemtu::ApplyReprioritizeRules(table, text);
  std::string name;
  while (table.PopPriorityName(name)) {
    if (name.size() > vemtu::kPriorityNameMaxChars) __builtin_trap();
    table.FindRoutingEntry(name);
  }
  vemtu::RoutingTable off;
  off.set_rules_enabled(false);
  vemtu::ApplyReprioritizeRules(off, text);
  if (!off.empty()) __builtin_trap();
  return 0;
}
