#include "posting/post_database.h"

#include "platform/agent_folder.h"

namespace vemtu {

namespace {

// 100,000 records: about 79 MB.
constexpr std::size_t kPostDatabaseMaxRecords = 100000;

}  // namespace

void ReadPostDatabase(RoutingTable& table, const std::string& path,
                      const platform::AgentFolder& folder) {
  folder.SetAttributesNormal(path);
  platform::File file = folder.Open(path, platform::OpenMode::kReadWriteExisting);
  if (!file.IsOpen()) return;
  unsigned char record[kRoutingRecordSize];
  long long got = 0;
  std::size_t records = 0;
  do {
    // A file past any real database's size is read no further: the read ends as at the
    // end of the file.
    if (++records > kPostDatabaseMaxRecords) {
      table.InsertRoutingEntry(RoutingEntryFromRecord(record, 0));
      break;
    }
    // A short read leaves the rest of the record zero; the end-of-file read (or a
    // failed one) inserts the all-zero entry and ends the loop.
    got = file.Read(record, sizeof record);
    std::size_t used = got > 0 ? static_cast<std::size_t>(got) : 0;
    table.InsertRoutingEntry(RoutingEntryFromRecord(record, used));
  } while (got > 0);
  file.Close();
}

}  // namespace vemtu
