// Reading what the agent posts: the page and query of a request target, and the inner
// text of a packed document (base64 of a raw DEFLATE stream as the root's CDATA).
#pragma once

#include <string>

namespace dcsim {

// The result of checking a request target "/<path>/tfr_<prefix>.asp?mmid=..&sid=..&rid=..&rty=..".
struct TargetCheck {
  int status = 200;     // 200 when the target is acceptable, else 404 or 400
  std::string prefix;   // the name prefix between "tfr_" and ".asp", %XX decoded
  std::string problem;  // what was wrong, for the error page
};

// Checks `target` (origin form: path and query). The query must hold exactly the four
// identity keys in their order; when `expected_query` is not empty the query must equal
// it byte for byte.
TargetCheck CheckTarget(const std::string& target, const std::string& expected_query);

// Decodes %XX escapes; a "%" not followed by two hex digits stays as it is.
std::string PercentDecode(const std::string& text);

// "http://host:port/p?q" -> "/p?q"; an origin-form target is returned unchanged.
std::string OriginForm(const std::string& target);

// Decodes standard base64, skipping CR, LF, blanks and tabs; false on any other
// character outside the alphabet or bad padding.
bool DecodeBase64(const std::string& text, std::string& bytes);

// Inflates a raw DEFLATE stream (no zlib or gzip wrapper); false unless it ends cleanly.
bool InflateRaw(const std::string& compressed, std::string& inner, std::size_t limit);

// True when `body` is a packed document; `inner` then holds the unpacked text.
bool UnpackDocument(const std::string& body, std::string& inner);

}  // namespace dcsim
