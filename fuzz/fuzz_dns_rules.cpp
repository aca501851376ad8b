// DNSSpecific.XML scanning over arbitrary text; the same text first fills the table
// through its priority markers so that URL lists find entries to change.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "posting/rule_files.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  vemtu::RoutingTable table;
  vemtu::ApplyReprioritizeRules(table, text);
  vemtu::ApplyDnsSpecificRules(table, text);
  std::string name;
  while (table.PopPriorityName(name)) {
    if (const vemtu::RoutingEntry* entry = table.FindRoutingEntry(name)) {
      if (strnlen(entry->url1, sizeof entry->url1) == sizeof entry->url1) __builtin_trap();
      if (strnlen(entry->url2, sizeof entry->url2) == sizeof entry->url2) __builtin_trap();
    }
  }
  return 0;
}
