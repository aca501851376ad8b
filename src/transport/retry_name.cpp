#include "transport/retry_name.h"

#include "common/fixed_text.h"

namespace vemtu {

std::string RetryTarget(std::string_view path, std::string_view error_folder, char separator,
                        std::size_t max_chars) {
  if (path.empty()) return {};
  std::size_t slash = path.rfind(separator);
  std::string target;
  if (path.back() == '5') {
    if (slash == std::string_view::npos) return {};
    std::string_view name = path.substr(slash);  // keeps the separator
    target.assign(error_folder);
    target.append(name.substr(0, name.size() - 1));
  } else {
    std::size_t name_start = slash == std::string_view::npos ? 0 : slash + 1;
    std::size_t dot = path.rfind('.');
    if (dot == std::string_view::npos || dot < name_start) return {};
    std::size_t after = path.size() - dot - 1;
    if (after < 3) return {};
    if (after == 3) {
      target.assign(path);
      target += '1';
    } else {
      long long number = LeadingDigits(path.substr(dot + 4)) + 1;
      target.assign(path.substr(0, path.size() - 1));
      target += std::to_string(number);
    }
  }
  if (target.size() > max_chars) return {};
  return target;
}

}  // namespace vemtu
