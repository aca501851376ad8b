#include "reply_rules.h"

#include <cctype>
#include <cstdlib>
#include <sstream>

namespace dcsim {

namespace {

bool SameIgnoringCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  }
  return true;
}

bool ParseNumber(const std::string& text, unsigned long& value) {
  if (text.empty() || text.size() > 9) return false;
  for (char c : text)
    if (c < '0' || c > '9') return false;
  value = std::strtoul(text.c_str(), nullptr, 10);
  return true;
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

std::string Unescape(const std::string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\' || i + 1 == text.size()) {
      out += text[i];
      continue;
    }
    char c = text[++i];
    switch (c) {
      case 's':
        out += ' ';
        break;
      case 't':
        out += '\t';
        break;
      case 'r':
        out += '\r';
        break;
      case 'n':
        out += '\n';
        break;
      case 'x':
        if (i + 2 < text.size() && HexValue(text[i + 1]) >= 0 && HexValue(text[i + 2]) >= 0) {
          out += static_cast<char>(HexValue(text[i + 1]) * 16 + HexValue(text[i + 2]));
          i += 2;
        } else {
          out += "\\x";
        }
        break;
      default:
        out += c;
        break;
    }
  }
  return out;
}

std::string Escape(const std::string& text) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : text) {
    switch (c) {
      case '\\':
        out += "\\\\";
        break;
      case '\t':
        out += "\\t";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\n':
        out += "\\n";
        break;
      default:
        if (c < 0x20 || c == 0x7F) {
          out += "\\x";
          out += kHex[c >> 4];
          out += kHex[c & 15];
        } else {
          out += static_cast<char>(c);
        }
    }
  }
  return out;
}

bool ParseRule(const std::string& line, Rule& rule, bool& is_rule, std::string& error) {
  rule = Rule{};
  is_rule = false;
  std::istringstream words(line);
  std::string word;
  if (!(words >> word) || word[0] == '#') return true;
  is_rule = true;
  auto value_of = [&word](const char* key) -> const char* {
    std::size_t n = std::char_traits<char>::length(key);
    return word.compare(0, n, key) == 0 ? word.c_str() + n : nullptr;
  };
  if (word == "default") {
    rule.selector = Rule::Selector::kDefault;
  } else if (const char* prefix = value_of("prefix=")) {
    rule.selector = Rule::Selector::kPrefix;
    rule.prefix = Unescape(prefix);
  } else if (const char* number = value_of("request=")) {
    rule.selector = Rule::Selector::kRequest;
    if (!ParseNumber(number, rule.number) || rule.number == 0) {
      error = "bad request number in: " + line;
      return false;
    }
  } else {
    error = "a rule starts with default, prefix=NAME or request=N: " + line;
    return false;
  }
  while (words >> word) {
    unsigned long n = 0;
    if (const char* v = value_of("reply=")) {
      rule.reply.body = Unescape(v);
    } else if (const char* v = value_of("page=")) {
      rule.reply.body = Unescape(v);
    } else if (const char* v = value_of("status=")) {
      if (!ParseNumber(v, n) || n < 100 || n > 999) {
        error = "bad status in: " + line;
        return false;
      }
      rule.reply.status = static_cast<int>(n);
    } else if (const char* v = value_of("delay=")) {
      if (!ParseNumber(v, n)) {
        error = "bad delay in: " + line;
        return false;
      }
      rule.reply.delay_ms = n;
    } else if (const char* v = value_of("times=")) {
      if (!ParseNumber(v, n)) {
        error = "bad times in: " + line;
        return false;
      }
      rule.times = static_cast<long>(n);
    } else if (word == "drop") {
      rule.reply.drop = true;
    } else {
      error = "unknown setting '" + word + "' in: " + line;
      return false;
    }
  }
  return true;
}

static bool ParseLines(const std::string& text, std::vector<Rule>& rules, std::string& error) {
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    Rule rule;
    bool is_rule = false;
    if (!ParseRule(line, rule, is_rule, error)) return false;
    if (is_rule) rules.push_back(rule);
  }
  return true;
}

bool ReplyScript::Load(const std::string& text, std::string& error) {
  std::vector<Rule> rules;
  if (!ParseLines(text, rules, error)) return false;
  std::lock_guard<std::mutex> hold(mutex_);
  loaded_ = std::move(rules);
  return true;
}

bool ReplyScript::AddFixed(const std::string& line, std::string& error) {
  std::vector<Rule> rules;
  if (!ParseLines(line, rules, error)) return false;
  std::lock_guard<std::mutex> hold(mutex_);
  fixed_.insert(fixed_.end(), rules.begin(), rules.end());
  return true;
}

Reply ReplyScript::Choose(unsigned long number, const std::string& prefix) {
  std::lock_guard<std::mutex> hold(mutex_);
  auto matches = [&](const Rule& r, Rule::Selector kind) {
    if (r.selector != kind || r.times == 0) return false;
    switch (kind) {
      case Rule::Selector::kRequest:
        return r.number == number;
      case Rule::Selector::kPrefix:
        return SameIgnoringCase(r.prefix, prefix);
      case Rule::Selector::kDefault:
        return true;
    }
    return false;
  };
  for (auto kind : {Rule::Selector::kRequest, Rule::Selector::kPrefix, Rule::Selector::kDefault}) {
    for (auto* rules : {&fixed_, &loaded_}) {
      for (Rule& r : *rules) {
        if (!matches(r, kind)) continue;
        if (r.times > 0) --r.times;
        return r.reply;
      }
    }
  }
  return Reply{};
}

}  // namespace dcsim
