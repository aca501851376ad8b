// Proxy lists and bypass lists as both libraries take them: entries separated by
// spaces or semicolons, each "[scheme=][http://]host[:port]".
#pragma once

#include <string>

namespace vemtu::inet {

// The proxy URL ("http://host:port") that `list` names for a plain or secure target:
// the entry for that scheme ("http=" / "https="), else an entry without a scheme.
// Empty when no entry applies (the target is then reached directly).
std::string ProxyFor(const std::string& list, bool secure);

// Whether `host` is on `bypass`: "<local>" matches names without a dot, other entries
// match the host name ignoring case, with '*' standing for any run of characters.
bool Bypassed(const std::string& bypass, const std::string& host);

// Whether the environment names a proxy for plain (http_proxy) or secure (https_proxy)
// targets, or for all (all_proxy); no_proxy is not consulted.
bool EnvironmentNamesProxy(bool secure);

}  // namespace vemtu::inet
