#include "proxy_list.h"

#include <cctype>
#include <cstdlib>
#include <vector>

namespace vemtu::inet {

namespace {

std::vector<std::string> Entries(const std::string& list) {
  std::vector<std::string> out;
  std::string current;
  for (char c : list) {
    if (c == ';' || std::isspace(static_cast<unsigned char>(c))) {
      if (!current.empty()) out.push_back(current);
      current.clear();
    } else {
      current += c;
    }
  }
  if (!current.empty()) out.push_back(current);
  return out;
}

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

// "http://host:port/" or "host" -> "http://host:port" (port 80 when none is given).
std::string ProxyUrl(std::string address) {
  std::size_t scheme_end = address.find("://");
  if (scheme_end != std::string::npos) address.erase(0, scheme_end + 3);
  while (!address.empty() && address.back() == '/') address.pop_back();
  if (address.empty()) return "";
  std::size_t colon = address.rfind(':');
  bool bracketed = address.front() == '[';
  bool has_port = colon != std::string::npos &&
                  (!bracketed || colon > address.find(']'));
  if (has_port && colon + 1 == address.size()) return "";  // "host:" has no port
  if (has_port && colon == 0) return "";                   // ":port" has no host
  return "http://" + address + (has_port ? "" : ":80");
}

bool WildcardMatch(const char* pattern, const char* text) {
  if (*pattern == '\0') return *text == '\0';
  if (*pattern == '*') {
    for (const char* at = text;; ++at) {
      if (WildcardMatch(pattern + 1, at)) return true;
      if (*at == '\0') return false;
    }
  }
  return *text != '\0' && *pattern == *text && WildcardMatch(pattern + 1, text + 1);
}

}  // namespace

std::string ProxyFor(const std::string& list, bool secure) {
  std::string general;
  std::string chosen;
  for (const std::string& entry : Entries(list)) {
    std::size_t equals = entry.find('=');
    if (equals == std::string::npos) {
      if (general.empty()) general = ProxyUrl(entry);
      continue;
    }
    std::string scheme = Lower(entry.substr(0, equals));
    if (chosen.empty() && scheme == (secure ? "https" : "http")) {
      chosen = ProxyUrl(entry.substr(equals + 1));
    }
  }
  return chosen.empty() ? general : chosen;
}

bool Bypassed(const std::string& bypass, const std::string& host) {
  std::string name = Lower(host);
  for (const std::string& entry : Entries(bypass)) {
    std::string pattern = Lower(entry);
    if (pattern == "<local>") {
      if (name.find('.') == std::string::npos && name.find(':') == std::string::npos) {
        return true;
      }
    } else if (WildcardMatch(pattern.c_str(), name.c_str())) {
      return true;
    }
  }
  return false;
}

bool EnvironmentNamesProxy(bool secure) {
  const char* names[] = {secure ? "https_proxy" : "http_proxy", secure ? "HTTPS_PROXY" : nullptr,
                         "all_proxy", "ALL_PROXY"};
  for (const char* name : names) {
    const char* value = name ? std::getenv(name) : nullptr;
    if (value && *value) return true;
  }
  return false;
}

}  // namespace vemtu::inet
