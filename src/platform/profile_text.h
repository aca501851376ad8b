// The private-profile rules on a file's text, apart from any file: how a value is found
// and how a text is edited to hold a new one. Shared by both builds.
//
// A line is a section header when it starts (after blanks) with '[' and holds a ']': the
// name is what lies between them, without surrounding blanks. Any other line with an '='
// is a key line: the key is the text before the first '=', the value the text after it,
// both without surrounding blanks. Lines starting with ';' are comments; keys before the
// first section belong to none. LF ends a line, a CR before it is dropped; a NUL byte
// ends the text of its line. Sections and keys match without regard to ASCII case, and
// the first of duplicate sections or keys is the one used.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace vemtu::platform::profile_text {

// The value of `key` in `section`, quotation marks around the whole of it dropped;
// nothing when the section or key is missing.
std::optional<std::string> FindValue(std::string_view text, std::string_view section,
                                     std::string_view key);

// The part of `value` a write stores: up to its first CR, LF or NUL, which would
// otherwise start a new line of the file (or end the C text it stands for).
std::string_view StoredValue(std::string_view value);

// `text` with `key` of `section` set to `value` (a StoredValue): the key's line keeps
// its spelling of the key and its line end; a new key goes after the section's last
// non-blank line, a new section at the end; new lines end in CR LF.
std::string Edited(std::string_view text, std::string_view section, std::string_view key,
                   std::string_view value);

// How a profile's text is stored in its file.
enum class Storage {
  kBytes,    // 8-bit text in the system code page, as the rules read it
  kUtf16Le,  // UTF-16 after the mark FF FE
  kUtf16Be,  // UTF-16 after the mark FE FF
};

// The file's bytes as the 8-bit text the rules read (characters the system code page
// cannot hold read as "?"), and how they were stored.
std::string Decode(std::string_view bytes, Storage& storage);

// `text` back in `storage`; nothing when `storage` is UTF-16 and the text does not
// convert.
std::optional<std::string> Encode(Storage storage, std::string_view text);

}  // namespace vemtu::platform::profile_text
