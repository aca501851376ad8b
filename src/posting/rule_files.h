// The two rule files read when no post database is at hand: Reprioritize.XML (priority,
// ignore and delete rules) and DNSSpecific.XML (URLs for existing entries). Only fixed
// markers are searched for, in the text turned to lower case; nothing else is parsed.
#pragma once

#include <string>
#include <string_view>

#include "platform/agent_folder.h"
#include "posting/routing_table.h"

namespace vemtu {

// The whole file at `path` (opened through `folder`) in lower case, ending at its first
// zero byte. False when the file is missing, cannot be read, or is too large to hold.
bool ReadRuleText(const std::string& path, std::string& text,
                  const platform::AgentFolder& folder = platform::FolderOrUnrooted(nullptr));

// Reads Reprioritize.XML: every "<pr nm='" name is queued, and while the rules are
// enabled inserted with pr = 1; then (rules enabled only) "<ig nm='" and "<del nm='"
// names are inserted with ig = 1 and del = 1.
void ReadReprioritizeRules(RoutingTable& table, const std::string& path,
                           const platform::AgentFolder& folder = platform::FolderOrUnrooted(nullptr));
// The same over a text already in lower case.
void ApplyReprioritizeRules(RoutingTable& table, std::string_view text);

// Reads DNSSpecific.XML (rules enabled only): "<wp name='" ... "url='u1,u2'" sets url1
// and url2 of the entry of that name; names without an entry are skipped.
void ReadDnsSpecificRules(RoutingTable& table, const std::string& path,
                          const platform::AgentFolder& folder = platform::FolderOrUnrooted(nullptr));
// The same over a text already in lower case.
void ApplyDnsSpecificRules(RoutingTable& table, std::string_view text);

}  // namespace vemtu
