// The post database file: a plain sequence of 788-byte routing records, no header.
#pragma once

#include <string>

#include "platform/agent_folder.h"
#include "posting/routing_table.h"

namespace vemtu {

// Reads every record of the file at `path` (opened through `folder`) into `table` (the first entry for a name
// wins). A final partial record is padded with zeros, and the read that finds the end
// of the file adds an all-zero entry, so any file that opens leaves the table non-empty.
// A file that cannot be opened leaves the table as it was.
void ReadPostDatabase(RoutingTable& table, const std::string& path,
                      const platform::AgentFolder& folder = platform::FolderOrUnrooted(nullptr));

}  // namespace vemtu
