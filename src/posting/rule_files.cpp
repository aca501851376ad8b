#include "posting/rule_files.h"

#include <cstring>
#include <new>

#include "common/fixed_text.h"
#include "platform/agent_folder.h"

namespace vemtu {

namespace {

// Larger rule files are not buffered; they contribute nothing.
constexpr long long kRuleFileMaxBytes = 64LL * 1024 * 1024;

constexpr std::string_view kPrMarker = "<pr nm='";
constexpr std::string_view kIgMarker = "<ig nm='";
constexpr std::string_view kDelMarker = "<del nm='";
constexpr std::string_view kWpMarker = "<wp name='";
constexpr std::string_view kUrlMarker = "url='";

enum class RuleKind { kPriority, kIgnore, kDelete };

RoutingEntry RuleEntry(std::string_view name, RuleKind kind) {
  RoutingEntry entry = EmptyRoutingEntry();
  CopyCapped(entry.name, sizeof entry.name, name);
  entry.pr = kind == RuleKind::kPriority ? 1 : 0;
  entry.ig = kind == RuleKind::kIgnore ? 1 : 0;
  entry.del = kind == RuleKind::kDelete ? 1 : 0;
  return entry;
}

// One scan for `marker`; each name runs to the next "'". A marker without its closing
// quote ends the scan. The next search starts at the name's first character.
void ScanNames(RoutingTable& table, std::string_view text, std::string_view marker,
               RuleKind kind) {
  std::size_t from = 0;
  while (true) {
    std::size_t at = text.find(marker, from);
    if (at == std::string_view::npos) return;
    std::size_t start = at + marker.size();
    std::size_t end = text.find('\'', start);
    if (end == std::string_view::npos) return;
    std::string_view name = text.substr(start, end - start);
    if (kind == RuleKind::kPriority) {
      if (table.rules_enabled()) table.InsertRoutingEntry(RuleEntry(name, kind));
      table.PushPriorityName(name);
    } else {
      table.InsertRoutingEntry(RuleEntry(name, kind));
    }
    from = start;
  }
}

void LowerAscii(std::string& text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
  }
}

}  // namespace

bool ReadRuleText(const std::string& path, std::string& text,
                  const platform::AgentFolder& folder) {
  text.clear();
  folder.SetAttributesNormal(path);
  platform::File file = folder.Open(path, platform::OpenMode::kReadWriteExisting);
  if (!file.IsOpen()) return false;
  long long size = file.Size();
  if (size < 0 || size > kRuleFileMaxBytes) return false;
  try {
    // Room for the whole file and some zeros after it, as a text ends at its first zero.
    text.assign(static_cast<std::size_t>(size) + 20, '\0');
  } catch (const std::bad_alloc&) {
    return false;
  }
  std::size_t filled = 0;
  while (filled < static_cast<std::size_t>(size)) {
    long long got = file.Read(&text[filled], static_cast<std::size_t>(size) - filled);
    if (got <= 0) break;
    filled += static_cast<std::size_t>(got);
  }
  file.Close();
  text.resize(strnlen(text.data(), filled));
  LowerAscii(text);
  return true;
}

void ApplyReprioritizeRules(RoutingTable& table, std::string_view text) {
  ScanNames(table, text, kPrMarker, RuleKind::kPriority);
  if (!table.rules_enabled()) return;
  ScanNames(table, text, kIgMarker, RuleKind::kIgnore);
  ScanNames(table, text, kDelMarker, RuleKind::kDelete);
}

void ReadReprioritizeRules(RoutingTable& table, const std::string& path,
                           const platform::AgentFolder& folder) {
  std::string text;
  if (!ReadRuleText(path, text, folder)) return;
  ApplyReprioritizeRules(table, text);
}

void ApplyDnsSpecificRules(RoutingTable& table, std::string_view text) {
  if (!table.rules_enabled()) return;
  std::size_t from = 0;
  while (true) {
    std::size_t at = text.find(kWpMarker, from);
    if (at == std::string_view::npos) return;
    std::size_t name_start = at + kWpMarker.size();
    std::size_t name_end = text.find('\'', name_start);
    if (name_end == std::string_view::npos) return;
    // Names are looked up as they were stored: cut at the entry's capacity.
    std::string_view name =
        CutText(text.substr(name_start, name_end - name_start), kRoutingNameMaxChars);
    RoutingEntry* entry = table.FindRoutingEntryToChange(name);

    std::size_t url_at = text.find(kUrlMarker, name_end + 1);
    if (url_at == std::string_view::npos) return;
    std::size_t list_start = url_at + kUrlMarker.size();
    std::size_t list_end = text.find('\'', list_start);
    if (list_end == std::string_view::npos) return;
    std::string_view list = text.substr(list_start, list_end - list_start);

    if (entry) {
      // The first item is url1; after a "," the second is url2; further items are
      // ignored. Without a "," url2 stays as it was.
      std::size_t comma = list.find(',');
      CopyCapped(entry->url1, sizeof entry->url1, list.substr(0, comma));
      if (comma != std::string_view::npos) {
        std::string_view rest = list.substr(comma + 1);
        CopyCapped(entry->url2, sizeof entry->url2, rest.substr(0, rest.find(',')));
      }
    }
    from = list_end + 1;
  }
}

void ReadDnsSpecificRules(RoutingTable& table, const std::string& path,
                          const platform::AgentFolder& folder) {
  if (!table.rules_enabled()) return;
  std::string text;
  if (!ReadRuleText(path, text, folder)) return;
  ApplyDnsSpecificRules(table, text);
}

}  // namespace vemtu
