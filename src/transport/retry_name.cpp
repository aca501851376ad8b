#include "transport/retry_name.h"

#include "common/fixed_text.h"
#include "platform/codepage.h"

namespace vemtu {

std::string RetryTarget(std::string_view path, std::string_view error_folder, char separator,
                        std::size_t max_chars) {
  using platform::FindCharacter;
  using platform::Occurrence;
  if (path.empty()) return {};
  std::size_t slash = FindCharacter(path, separator, Occurrence::kLast);
  std::string target;
  if (FindCharacter(path, '5', Occurrence::kLast) == path.size() - 1) {
    if (slash == std::string_view::npos) return {};
    std::string_view name = path.substr(slash);  // keeps the separator
    target.assign(error_folder);
    target.append(name.substr(0, name.size() - 1));
  } else {
    std::size_t name_start = slash == std::string_view::npos ? 0 : slash + 1;
    std::size_t dot = FindCharacter(path, '.', Occurrence::kLast);
    if (dot == std::string_view::npos || dot < name_start) return {};
    std::size_t after = path.size() - dot - 1;
    if (after < 3) return {};
    if (after == 3) {
      target.assign(path);
      target += '1';
    } else {
      long long number = LeadingDigits(path.substr(dot + 4)) + 1;
      target.assign(path.substr(0, platform::LastCharacterStart(path)));
      target += std::to_string(number);
    }
  }
  if (target.size() > max_chars) return {};
  return target;
}

}  // namespace vemtu
