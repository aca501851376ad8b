// Paths and names between the agent's 8-bit texts (the system's ANSI code page) and the
// wide forms the file functions take.
//
// Every file call goes through the wide functions with a "\\?\" path, so that paths past
// MAX_PATH work. That prefix also turns off the normalisation the ANSI functions apply
// ("/" read as "\", "." and ".." folded, trailing dots and spaces dropped); a path that
// would need any of it names another object with the prefix than without, so it is
// refused instead of passed on.
#pragma once

#include <optional>
#include <string>

namespace vemtu::platform::win32_detail {

// The "\\?\" form of a full path ("C:\a\b" or "\\server\share\a"), converted from the
// ANSI code page as the ANSI functions convert it. Nothing (ERROR_INVALID_NAME set) for
// a full path holding a "/", an empty component, or a component ending in "." or " ":
// the agent's own paths are full, and a name found on disk never makes one of these.
// A path that already begins with "\\?\" is taken as it is; one in another form (a
// tool's relative argument) is made full by the system's rules first.
std::optional<std::wstring> LongPath(const std::string& path);

// `text` converted from the ANSI code page as the ANSI functions convert it.
std::optional<std::wstring> WideFromAnsi(const std::string& text);

// A name from a wide listing in the ANSI code page, without best-fit replacements.
// Nothing when the name cannot be spelled there exactly, or would be read as more than
// one name or as another name: it holds "\", "/" or ":", or ends in "." or " ".
std::optional<std::string> UsableAnsiName(const std::wstring& name);

// `wide` in the ANSI code page exactly: nothing when a character has no spelling there
// other than a best-fit look-alike or the default "?", or does not convert back to itself.
std::optional<std::string> ExactAnsi(const std::wstring& wide);

// The name converted as the listing of the ANSI functions would show it, "?" for what
// the code page cannot carry: for naming an unusable entry in a log.
std::string DisplayAnsiName(const std::wstring& name);

}  // namespace vemtu::platform::win32_detail
