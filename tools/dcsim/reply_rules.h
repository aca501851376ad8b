// What the simulated data centre answers: a default reply, replies per name prefix and
// replies per request number, read from a small script or from command-line rules.
//
// One rule per line, blank lines and lines starting with '#' ignored:
//   <selector> <setting> <setting> ...
// selector:  default | prefix=NAME | request=N
// settings:  reply=TEXT    the reply text (escapes: \s space, \t, \r, \n, \\, \xHH)
//            status=CODE   the HTTP status (default 200)
//            page=TEXT     alias of reply=, reads better with a status
//            delay=MS      wait before answering
//            drop          close the connection without answering
//            times=N       the rule applies to its first N matches only
// A request-number rule wins over a prefix rule, which wins over the default.
#pragma once

#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace dcsim {

struct Reply {
  int status = 200;
  std::string body = "1";
  unsigned long delay_ms = 0;
  bool drop = false;
};

struct Rule {
  enum class Selector {
    kDefault,  // every request no other rule takes
    kPrefix,   // requests whose page is tfr_<prefix>.asp (prefix compared without case)
    kRequest,  // the request with this sequence number (1 = first)
  };
  Selector selector = Selector::kDefault;
  std::string prefix;
  unsigned long number = 0;
  long times = -1;  // matches left; -1 for no limit
  Reply reply;
};

// Decodes the escapes of a rule value.
std::string Unescape(const std::string& text);
// Escapes tabs, line breaks, backslashes and non-printable bytes for one-line output.
std::string Escape(const std::string& text);

// Parses one rule line; false (with `error`) when it is malformed. Blank and comment
// lines give true with `is_rule` false.
bool ParseRule(const std::string& line, Rule& rule, bool& is_rule, std::string& error);

// The rules in force; safe to use from several connection threads.
class ReplyScript {
 public:
  // Replaces the rules by those of `text`; false (rules unchanged) on a malformed line.
  bool Load(const std::string& text, std::string& error);
  // Adds one rule in front of those loaded from text later (command-line rules).
  bool AddFixed(const std::string& line, std::string& error);
  // The reply for request `number` of page prefix `prefix`; consumes a `times` count.
  Reply Choose(unsigned long number, const std::string& prefix);

 private:
  std::mutex mutex_;
  std::vector<Rule> fixed_;   // from the command line
  std::vector<Rule> loaded_;  // from the script file
};

}  // namespace dcsim
