// Post database reader over arbitrary file contents: unterminated texts, partial
// records, junk. The input goes through a real file, as the reader reads one.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>

#include "platform/process.h"
#include "posting/post_database.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // One file per process, so that parallel runs do not overwrite each other's input.
  static const std::string path =
      (std::filesystem::temp_directory_path() /
       ("vemtu-fuzz-post-database-" + std::to_string(vemtu::platform::CurrentProcessId()) + ".bin"))
          .string();
  {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  }
  vemtu::RoutingTable table;
  vemtu::ReadPostDatabase(table, path);
  if (table.empty()) __builtin_trap();  // the end-of-file entry is always there
  const std::string probe(reinterpret_cast<const char*>(data), size < 300 ? size : 300);
  table.FindRoutingEntry(probe);
  if (const vemtu::RoutingEntry* entry = table.FindRoutingEntry("")) {
    if (entry->name[0] != '\0') __builtin_trap();
  }
  return 0;
}
