// Private-profile (INI) files with the Windows rules: sections and keys matched without
// regard to case, the first of duplicate sections or keys wins, blanks around "=" and
// around the value dropped, quotation marks around a whole value dropped, the value cut
// to the capacity; writing creates the file, the section or the key (never the folder),
// and an empty value leaves the key present with an empty value.
#pragma once

#include <cstddef>
#include <string>

namespace vemtu::platform {

// The value, or `default_value` when the file, section or key is missing; at most
// `max_chars` characters (the value is cut there).
std::string GetProfileText(const std::string& file, const std::string& section,
                           const std::string& key, const std::string& default_value,
                           std::size_t max_chars);

// The value's leading decimal digits as a number, or `default_value` when the key is
// missing. Like Windows: a leading '-' gives a negative number, no digits give 0.
int GetProfileInt(const std::string& file, const std::string& section,
                  const std::string& key, int default_value);

bool WriteProfileText(const std::string& file, const std::string& section,
                      const std::string& key, const std::string& value);

}  // namespace vemtu::platform
