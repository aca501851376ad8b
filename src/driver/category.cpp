#include "driver/category.h"

#include "common/fixed_text.h"

namespace vemtu {

namespace {

struct CategoryWord {
  const char* word;
  CategoryKind kind;
};

constexpr CategoryWord kCategoryWords[] = {
    {"Status", CategoryKind::kStatus},
    {"ATPostLogs", CategoryKind::kATPostLogs},
    {"Configuration", CategoryKind::kConfiguration},
};

}  // namespace

std::optional<Category> SelectCategory(std::string_view command_tail) {
  if (command_tail.empty()) return Category{CategoryKind::kAlertTkt, "AlertTkt", "AlertTkt"};
  for (const CategoryWord& entry : kCategoryWords) {
    if (EqualsIgnoreCase(command_tail, entry.word)) {
      return Category{entry.kind, std::string(command_tail), entry.word};
    }
  }
  return std::nullopt;
}

Category CategoryOfTableWord(std::string_view word) {
  std::optional<Category> category = SelectCategory(word == "AlertTkt" ? "" : word);
  return category ? *category : *SelectCategory("");
}

}  // namespace vemtu
