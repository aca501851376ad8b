// The command-line text after the program name, as a Windows program receives it, made
// from the arguments a Linux program receives. A Windows caller passes one text that the
// program splits itself; given separate arguments, the text is the one that splits back
// into them: each argument as it is, or in double quotes when it is empty or holds a
// blank or tab, with every double quote escaped as \" (and the backslashes before it
// doubled), joined by single blanks. So `Vemtu.EXE ""` sees the text `""`, not nothing.
#pragma once

#include <string>

namespace vemtu {

inline std::string QuoteArgument(const std::string& argument) {
  const bool quoted = argument.empty() || argument.find_first_of(" \t") != std::string::npos;
  std::string text;
  if (quoted) text += '"';
  std::size_t backslashes = 0;
  for (char c : argument) {
    if (c == '"') text.append(backslashes + 1, '\\');
    backslashes = c == '\\' ? backslashes + 1 : 0;
    text += c;
  }
  if (quoted) {
    text.append(backslashes, '\\');  // a closing quote must not read as escaped
    text += '"';
  }
  return text;
}

inline std::string CommandTail(int argc, const char* const* argv) {
  std::string tail;
  for (int i = 1; i < argc; ++i) {
    if (i > 1) tail += ' ';
    tail += QuoteArgument(argv[i]);
  }
  return tail;
}

}  // namespace vemtu
