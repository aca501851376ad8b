// The page the simulator serves at "/": every request it saw, newest first, reloaded
// by the browser every few seconds while the simulator runs.
#pragma once

#include <string>
#include <vector>

#include "request_store.h"

namespace dcsim {

// Escapes the five characters that are markup in HTML text and attribute values.
std::string HtmlEscape(const std::string& text);

// The whole HTML document for `seen` (oldest first, as RequestStore::Latest gives them).
std::string StatusPage(const std::vector<Seen>& seen, int refresh_seconds);

}  // namespace dcsim
