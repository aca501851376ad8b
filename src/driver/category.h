// Choosing the run's category from the command-line text.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace vemtu {

enum class CategoryKind {
  kAlertTkt,       // empty command line
  kStatus,         // "Status"
  kATPostLogs,     // "ATPostLogs"
  kConfiguration,  // "Configuration": posts nothing, loads no routing table
};

struct Category {
  CategoryKind kind;
  std::string name;       // as typed (its letter case kept), or "AlertTkt"
  std::string canonical;  // the word as the category table spells it: lock names use this
};

// The whole text after the program name, compared without case with the three words;
// empty selects "AlertTkt". Anything else (a trailing blank, two words) selects none.
std::optional<Category> SelectCategory(std::string_view command_tail);

// The category of one of the table's words ("AlertTkt" included), for tools that name a
// category's locks without a command line; an unknown word gives "AlertTkt".
Category CategoryOfTableWord(std::string_view word);

// True for the categories that load a routing table and post.
inline bool LoadsRoutingTable(CategoryKind kind) { return kind != CategoryKind::kConfiguration; }

}  // namespace vemtu
