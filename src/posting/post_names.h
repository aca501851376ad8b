// The names and texts one post is made of: the parts of a base URL, the name prefix of
// a result file, the request path with the identity values, the packed path, the
// transfer log path, the display URL and the Status envelope.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "common/fixed_text.h"
#include "common/run_context.h"

namespace vemtu {

constexpr std::size_t kSchemeMaxChars = 10;

// A base URL taken apart: "scheme://host[:port][/base path]".
struct UrlParts {
  FixedText<kSchemeMaxChars + 1> scheme;  // upper-cased
  PathText host;
  int port = 0;        // explicit, else 80 for HTTP, 443 for HTTPS, else 0
  PathText base_path;  // after the first "/" that follows the host; may be empty
};

// Splits `url`. False when it holds no "://" or its scheme is longer than 10
// characters (a scheme cut short would name another protocol): nothing is posted then.
// When the host part holds a ":" (the first one, wherever it stands) the host ends
// there and the port is the number after it; a "/" anywhere in the host part still
// starts the base path.
bool SplitUrl(std::string_view url, UrlParts& parts);

// The file name up to, not including, its first "_"; the whole name when it has none.
std::string_view NamePrefix(std::string_view name);

// base path + "/" (when not empty) + "tfr_" + prefix + ".asp?mmid=..&sid=..&rid=..&rty=..",
// the values as read from the agent INI. In the prefix, which comes from a file name,
// "%", "?" and "#" are written "%25", "%3F" and "%23", so that the page named is the
// prefix as the file has it and the query is the agent's own. False when the path
// before that escaping would not fit in 359 characters; the escaped path may be longer.
bool BuildRequestPath(const RunContext& ctx, std::string_view base_path, std::string_view prefix,
                      std::string& request_path);

// The file path with its extension (from the last "." of the file name) replaced by
// ".zip"; a name without "." gets ".zip" appended, so the copy always stays beside its
// source; a name already ending in ".zip" gets another ".zip" rather than overwrite
// itself. Empty when it would not fit in 359 characters.
std::string PackedPath(std::string_view file_path);

// ExeDir + "\ApplicationLog\WebPost\WebPostExe\tfr_" + prefix + ".log"; empty when it
// would not fit in 359 characters.
std::string TransferLogPath(const RunContext& ctx, std::string_view prefix);

// The base URL as passed + "/tfr_" + prefix + ".asp", cut at 359 characters (it is only
// shown in the log).
std::string DisplayUrl(std::string_view url, std::string_view prefix);

// "<P><regid>R</regid><data><![CDATA[" and "]]></data></P>" for prefix P and
// registration id R; the file's bytes go between them.
std::string EnvelopeHead(std::string_view prefix, std::string_view registration_id);
std::string EnvelopeTail(std::string_view prefix);

// True for the Status category, whatever the letter case it was typed in: its files are
// posted in Status mode (enveloped, size-checked, in order).
bool IsStatusCategory(std::string_view category);

}  // namespace vemtu
