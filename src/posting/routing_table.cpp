#include "posting/routing_table.h"

#include <cstring>

namespace vemtu {

namespace {

unsigned char FoldCase(char c) {
  unsigned char u = static_cast<unsigned char>(c);
  return (u >= 'A' && u <= 'Z') ? static_cast<unsigned char>(u + 32) : u;
}

std::int32_t LittleEndian32(const unsigned char* p) {
  std::uint32_t v = static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
                    static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
  std::int32_t out;
  std::memcpy(&out, &v, sizeof out);
  return out;
}

// Makes sure a text field ends within its capacity.
template <std::size_t N>
void Terminate(char (&field)[N]) {
  field[N - 1] = '\0';
}

std::string_view FieldText(const char* field, std::size_t capacity) {
  return std::string_view(field, strnlen(field, capacity));
}

}  // namespace

RoutingEntry EmptyRoutingEntry() {
  RoutingEntry entry;
  std::memset(&entry, 0, sizeof entry);
  return entry;
}

RoutingEntry RoutingEntryFromRecord(const unsigned char* bytes, std::size_t size) {
  unsigned char record[kRoutingRecordSize] = {};
  if (bytes && size) std::memcpy(record, bytes, size < sizeof record ? size : sizeof record);
  RoutingEntry entry = EmptyRoutingEntry();
  std::memcpy(entry.name, record + offsetof(RoutingEntry, name), sizeof entry.name);
  std::memcpy(entry.url1, record + offsetof(RoutingEntry, url1), sizeof entry.url1);
  std::memcpy(entry.url2, record + offsetof(RoutingEntry, url2), sizeof entry.url2);
  entry.reserved = static_cast<char>(record[offsetof(RoutingEntry, reserved)]);
  entry.pr = LittleEndian32(record + offsetof(RoutingEntry, pr));
  entry.ig = LittleEndian32(record + offsetof(RoutingEntry, ig));
  entry.del = LittleEndian32(record + offsetof(RoutingEntry, del));
  Terminate(entry.name);
  Terminate(entry.url1);
  Terminate(entry.url2);
  return entry;
}

bool NameLessIgnoreCase::operator()(const std::string& a, const std::string& b) const {
  std::size_t n = a.size() < b.size() ? a.size() : b.size();
  for (std::size_t i = 0; i < n; ++i) {
    unsigned char x = FoldCase(a[i]), y = FoldCase(b[i]);
    if (x != y) return x < y;
  }
  return a.size() < b.size();
}

bool RoutingTable::InsertRoutingEntry(const RoutingEntry& entry) {
  RoutingEntry copy = entry;
  Terminate(copy.name);
  Terminate(copy.url1);
  Terminate(copy.url2);
  std::string key(FieldText(copy.name, sizeof copy.name));
  return entries_.emplace(std::move(key), copy).second;
}

const RoutingEntry* RoutingTable::FindRoutingEntry(std::string_view name) const {
  auto it = entries_.find(std::string(name));
  return it == entries_.end() ? nullptr : &it->second;
}

RoutingEntry* RoutingTable::FindRoutingEntryToChange(std::string_view name) {
  auto it = entries_.find(std::string(name));
  return it == entries_.end() ? nullptr : &it->second;
}

void RoutingTable::PushPriorityName(std::string_view name) {
  priority_.emplace_back(name.substr(0, kPriorityNameMaxChars));
}

bool RoutingTable::PopPriorityName(std::string& name) {
  if (priority_.empty()) return false;
  name = std::move(priority_.front());
  priority_.pop_front();
  return true;
}

bool RoutingTable::AnyEntryPosts() const {
  for (const auto& named : entries_) {
    const RoutingEntry& entry = named.second;
    if (entry.url1[0] != '\0' && entry.ig != 1 && entry.del != 1) return true;
  }
  return false;
}

}  // namespace vemtu
