// The routing table: by the name prefix of a result file, whether such files are left
// alone, moved aside unposted, or posted first and to which URL; and the priority queue
// of names the posting cycle posts ahead of everything else.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <string>
#include <string_view>

namespace vemtu {

// One entry, also the 788-byte record of the post database file (integers 32-bit
// little-endian, texts zero-terminated 8-bit). Entries held by the table always carry
// their terminating zeros.
struct RoutingEntry {
  char name[255];   // name prefix, at most 254 characters, compared without case
  char url1[260];   // first URL, at most 259 characters; empty if none
  char url2[260];   // second URL; empty if none
  char reserved;    // not read
  std::int32_t pr;  // 1: the name came from a "pr" rule
  std::int32_t ig;  // 1: files with this prefix are left untouched
  std::int32_t del; // 1: files with this prefix are moved to the Error folder unposted
};

constexpr std::size_t kRoutingRecordSize = 788;
constexpr std::size_t kRoutingNameMaxChars = sizeof(RoutingEntry::name) - 1;  // 254
constexpr std::size_t kRoutingUrlMaxChars = sizeof(RoutingEntry::url1) - 1;   // 259
constexpr std::size_t kPriorityNameMaxChars = 259;

static_assert(sizeof(RoutingEntry) == kRoutingRecordSize, "record size");
static_assert(offsetof(RoutingEntry, name) == 0, "name offset");
static_assert(offsetof(RoutingEntry, url1) == 255, "url1 offset");
static_assert(offsetof(RoutingEntry, url2) == 515, "url2 offset");
static_assert(offsetof(RoutingEntry, reserved) == 775, "reserved offset");
static_assert(offsetof(RoutingEntry, pr) == 776, "pr offset");
static_assert(offsetof(RoutingEntry, ig) == 780, "ig offset");
static_assert(offsetof(RoutingEntry, del) == 784, "del offset");

// An all-zero entry: empty name and URLs, no flags.
RoutingEntry EmptyRoutingEntry();

// An entry from up to 788 bytes of a post database record (missing bytes count as zero).
// Texts without a terminating zero are cut at their capacity.
RoutingEntry RoutingEntryFromRecord(const unsigned char* bytes, std::size_t size);

// Orders names as the table compares them: ASCII letters without regard to case.
struct NameLessIgnoreCase {
  bool operator()(const std::string& a, const std::string& b) const;
};

class RoutingTable {
 public:
  // Adds a copy of `entry` unless an entry of the same name (without regard to case) is
  // present: the first entry for a name wins. True when it was added.
  bool InsertRoutingEntry(const RoutingEntry& entry);

  // The entry whose name equals `name` without regard to case, or nullptr.
  const RoutingEntry* FindRoutingEntry(std::string_view name) const;
  // The same entry, to be changed in place (the DNS rules set its URLs).
  RoutingEntry* FindRoutingEntryToChange(std::string_view name);

  // Appends a name (cut at 259 characters) to the priority queue; repeats stay.
  void PushPriorityName(std::string_view name);
  // Takes the first name off the priority queue; false when it is empty.
  bool PopPriorityName(std::string& name);

  // On when the process starts; off once the post database filled the table. While
  // off, the rule files only queue priority names.
  bool rules_enabled() const { return rules_enabled_; }
  void set_rules_enabled(bool enabled) { rules_enabled_ = enabled; }

  // True when some entry posts to a URL of its own (one neither ignored nor set aside).
  bool AnyEntryPosts() const;

  std::size_t size() const { return entries_.size(); }
  bool empty() const { return entries_.empty(); }
  std::size_t priority_count() const { return priority_.size(); }

 private:
  std::map<std::string, RoutingEntry, NameLessIgnoreCase> entries_;  // a balanced tree
  std::deque<std::string> priority_;
  bool rules_enabled_ = true;
};

}  // namespace vemtu
