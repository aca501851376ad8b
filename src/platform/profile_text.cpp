#include "platform/profile_text.h"

#include "common/fixed_text.h"
#include "platform/codepage.h"

namespace vemtu::platform::profile_text {
namespace {

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

std::string_view Trim(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

enum class LineKind { kOther, kSection, kKey };

// One line of the text, as offsets into it.
struct Line {
  std::size_t begin = 0;     // first byte of the line
  std::size_t text_end = 0;  // end of the line's text (before CR LF, LF or a NUL)
  std::size_t next = 0;      // first byte of the following line
  LineKind kind = LineKind::kOther;
  std::string_view name;     // section name or key
  std::string_view value;    // key lines: the value, blanks dropped
};

Line ReadLine(std::string_view text, std::size_t begin) {
  Line line;
  line.begin = begin;
  std::size_t lf = text.find('\n', begin);
  line.next = lf == std::string_view::npos ? text.size() : lf + 1;
  std::size_t end = lf == std::string_view::npos ? text.size() : lf;
  if (end > begin && lf != std::string_view::npos && text[end - 1] == '\r') --end;
  std::size_t nul = text.substr(begin, end - begin).find('\0');
  if (nul != std::string_view::npos) end = begin + nul;
  line.text_end = end;
  std::string_view content = Trim(text.substr(begin, end - begin));
  if (content.empty() || content.front() == ';') return line;
  if (content.front() == '[') {
    std::size_t close = content.rfind(']');
    if (close != std::string_view::npos) {
      line.kind = LineKind::kSection;
      line.name = Trim(content.substr(1, close - 1));
      return line;
    }
  }
  std::size_t equals = content.find('=');
  if (equals == std::string_view::npos) return line;
  line.kind = LineKind::kKey;
  line.name = Trim(content.substr(0, equals));
  line.value = Trim(content.substr(equals + 1));
  return line;
}

// Where a key sits in a text, or where it would go.
struct Lookup {
  bool section_found = false;
  bool key_found = false;
  Line key_line;                // the key's line, when found
  std::size_t section_end = 0;  // after the section's last non-blank line, when found
};

Lookup Find(std::string_view text, std::string_view section, std::string_view key) {
  Lookup found;
  bool inside = false;
  // A UTF-8 byte-order mark before the first line is not part of it.
  std::size_t start = text.substr(0, 3) == "\xEF\xBB\xBF" ? 3 : 0;
  for (std::size_t at = start; at < text.size();) {
    Line line = ReadLine(text, at);
    at = line.next;
    if (line.kind == LineKind::kSection) {
      if (inside) break;  // the first section of that name is the only one looked at
      if (EqualsIgnoreCase(line.name, section)) {
        inside = found.section_found = true;
        found.section_end = line.next;
      }
      continue;
    }
    if (!inside) continue;
    if (!Trim(text.substr(line.begin, line.text_end - line.begin)).empty()) {
      found.section_end = line.next;
    }
    if (line.kind == LineKind::kKey && EqualsIgnoreCase(line.name, key)) {
      found.key_found = true;
      found.key_line = line;
      break;
    }
  }
  return found;
}

// The value with a pair of matching quotation marks around the whole of it dropped.
std::string_view Unquote(std::string_view value) {
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
      value.back() == value.front()) {
    return value.substr(1, value.size() - 2);
  }
  return value;
}

// UTF-16 code units swapped pairwise: big-endian to little-endian and back.
std::string Swapped(std::string_view units) {
  std::string swapped(units);
  for (std::size_t i = 0; i + 1 < swapped.size(); i += 2) std::swap(swapped[i], swapped[i + 1]);
  return swapped;
}

}  // namespace

std::optional<std::string> FindValue(std::string_view text, std::string_view section,
                                     std::string_view key) {
  Lookup found = Find(text, section, key);
  if (!found.key_found) return std::nullopt;
  return std::string(Unquote(found.key_line.value));
}

std::string_view StoredValue(std::string_view value) {
  return value.substr(0, value.find_first_of(std::string_view("\r\n\0", 3)));
}

std::string Edited(std::string_view text, std::string_view section, std::string_view key,
                   std::string_view value) {
  std::string edited;
  Lookup found = Find(text, section, key);
  if (found.key_found) {
    const Line& line = found.key_line;
    std::size_t key_begin = static_cast<std::size_t>(line.name.data() - text.data());
    edited.reserve(text.size() + value.size());
    edited.append(text.substr(0, key_begin));
    edited.append(line.name);
    edited += '=';
    edited.append(value);
    edited.append(text.substr(line.text_end));
    return edited;
  }
  std::string addition;
  std::size_t at = found.section_found ? found.section_end : text.size();
  if (at > 0 && text[at - 1] != '\n') addition += "\r\n";
  if (!found.section_found) {
    addition += '[';
    addition.append(section);
    addition += "]\r\n";
  }
  addition.append(key);
  addition += '=';
  addition.append(value);
  addition += "\r\n";
  edited.reserve(text.size() + addition.size());
  edited.append(text.substr(0, at));
  edited += addition;
  edited.append(text.substr(at));
  return edited;
}

std::string Decode(std::string_view bytes, Storage& storage) {
  storage = bytes.substr(0, 2) == "\xFF\xFE"   ? Storage::kUtf16Le
            : bytes.substr(0, 2) == "\xFE\xFF" ? Storage::kUtf16Be
                                               : Storage::kBytes;
  if (storage == Storage::kBytes) return std::string(bytes);
  std::string units = storage == Storage::kUtf16Be ? Swapped(bytes.substr(2))
                                                   : std::string(bytes.substr(2));
  std::string text;
  ConvertCodePage(kCodePageUtf16Le, SystemCodePage(), units, text);
  return text;
}

std::optional<std::string> Encode(Storage storage, std::string_view text) {
  if (storage == Storage::kBytes) return std::string(text);
  std::string units;
  if (!ConvertCodePage(SystemCodePage(), kCodePageUtf16Le, text, units)) return std::nullopt;
  return storage == Storage::kUtf16Be ? "\xFE\xFF" + Swapped(units) : "\xFF\xFE" + units;
}

}  // namespace vemtu::platform::profile_text
