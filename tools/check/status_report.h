// `vemtu-check status`: what is waiting, what is stuck and why, read from an agent folder
// without changing anything in it and without taking any lock a run takes.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "agent_setup.h"
#include "folder_state.h"
#include "key_owner.h"
#include "log_reader.h"

namespace vemtu::check {

constexpr int kRetryNumbers = 5;     // X.xml1 ... X.xml5, then Error
constexpr std::size_t kLastErrorLines = 5;
constexpr int kChartHours = 24;
// An Error folder holding this many files is a warning whatever their age: nobody has
// looked at them, and each one was a result the data centre never got.
constexpr int kErrorFolderWarnFiles = 1000;
// A disk with less room than this to the agent's user is full: a log line or a packed
// copy may no longer fit.
constexpr std::uint64_t kDiskFullBytes = 1024 * 1024;

// How bad a finding is; the values are the exit codes monitoring systems read.
enum class Severity {
  kOk = 0,        // nothing to do
  kWarning = 1,   // files wait too long or reached Error: look into them
  kCritical = 2,  // nothing is being posted, or nothing can be
  kUnknown = 3,   // the folder cannot be checked at all
};
const char* SeverityName(Severity severity);  // "OK", "WARNING", "CRITICAL", "UNKNOWN"

// One reason for the verdict: what is wrong, why, and what fixes it.
struct Reason {
  Severity severity = Severity::kOk;
  std::string subject;  // a category, "agent folder", "send methods", a log's name
  std::string cause;
  std::string action;
};

struct CategoryStatus {
  std::string name;
  bool posts = true;  // false for Configuration, which only advances counters
  bool folder_exists = false;
  // Files waiting in the category folder (the Error folder and subfolders aside).
  int waiting = 0;
  std::uint64_t waiting_bytes = 0;
  std::string oldest_name;
  std::int64_t oldest_written = -1;
  int overdue = 0;  // waiting longer than the allowed age
  std::array<int, kRetryNumbers + 1> by_retry{};  // [n]: files in their n-th retry name
  int left_by_rule = 0;  // files of an "ig" prefix: left alone on purpose, never overdue
  int links = 0;         // links: the agent never posts, moves or follows them
  // The Error folder.
  int error_files = 0;
  std::string newest_error_name;
  std::int64_t newest_error_arrived = -1;
  int new_errors = 0;  // arrived within the allowed age
  // The run: its record in the category INI, its lock, its log.
  std::string recorded_pid;   // as written; empty when no run is recorded
  bool pid_alive = false;     // the recorded process runs Vemtu.EXE now: a run goes on
  bool lock_open = false;     // some process holds the instance lock open: a run of this
                              // category in this or another agent folder (the name is
                              // machine-wide), or one starting here before it records itself
  std::string watchdog;       // the Cycle counter as written
  std::int64_t last_start = -1, last_finish = -1;
  std::vector<LogEntry> last_errors;  // ERR lines and refusals of the run log, oldest first
  std::vector<LogEntry> last_run_errors;  // those of the last run only
  bool has_run_log = false;  // a run of this category has written its log here
};

// The last thing one send method met that was not an acceptance.
struct MethodFailure {
  std::int64_t time = -1;  // -1: none seen
  std::string prefix;      // the transfer log it is in
  std::string step;        // "WinHTTP.ZHTTPWebPost", or "reply" for a refusal
  long long error = 0;     // the error number (an HTTP status for a reply of 300 or more)
  std::string text;        // the error text as logged, or "refused: reply \"0\""
  std::string detail;      // host, proxy or reply page when the log gave one
};

struct MethodStatus {
  int number = 0;
  std::string procedure;
  std::int64_t last_success = -1;
  MethodFailure last_failure;
};

struct PrefixStatus {
  std::string prefix;
  std::int64_t last_accepted = -1;
  std::string last_accepted_file;
  int accepted = 0;  // acceptances the log still holds
  int failed = 0;    // files whose last attempt the log holds was not accepted
};

// The newest attempt to post a file that the transfer logs hold.
struct LastAttempt {
  std::int64_t time = -1;   // -1: none seen
  std::string prefix;
  std::string file;
  bool accepted = false;
  bool refused = false;     // the data centre answered, but not "1"
  int methods_failed = 0;   // methods that ended in an error of their own
  std::vector<long long> errors;  // their distinct error numbers, in order met
};

struct StatusReport {
  std::string folder;
  std::int64_t now = 0;
  std::int64_t max_age = 3600;
  std::vector<CategoryStatus> categories;
  std::vector<PrefixStatus> prefixes;
  std::array<MethodStatus, 7> methods{};
  // Accepted posts per hour, the last kChartHours hours up to now (index 0 the oldest).
  std::array<int, kChartHours> posts_per_hour{};
  LastAttempt last_attempt;
  // What the folder itself shows.
  bool folder_readable = true;  // false: the folder is missing or cannot be listed
  bool agent_present = true;    // the agent's executable lies in the folder
  DiskState disk;
  std::vector<std::pair<std::string, EntryKind>> unwritable_logs;  // *.log that are no file
  KeyOwnership key;  // the cipher key, and who the runs are made as
  std::int64_t max_run_age = 3600;
  std::int64_t last_run = -1;  // the newest start or finish of any category's run
  std::vector<Reason> findings;
  Severity verdict = Severity::kOk;
  std::vector<std::string> stuck;  // every finding as one line (kept for older readers)
};

// Reads the folder and judges it; `now`, `max_age` and `max_run_age` in seconds.
StatusReport ReadStatus(const AgentSetup& agent, std::int64_t now, std::int64_t max_age,
                        std::int64_t max_run_age);
// Adds the findings of what `report` holds and sets its verdict.
void JudgeStatus(StatusReport& report);
// "CRITICAL: reason (+N more) | perf data": the line monitoring systems read.
std::string VerdictLine(const StatusReport& report);
// A finding as one line: "subject: cause -- fix: action".
std::string ReasonText(const Reason& finding);

// Numbers each method and names its procedure.
void NameMethods(std::array<MethodStatus, 7>& methods);
// What one transfer log says (exposed for the fuzz target): adds to `report`.
void ReadTransferLog(const std::string& prefix, const std::vector<LogEntry>& entries,
                     StatusReport& report);
// What one run log says about its category.
void ReadRunLog(const std::vector<LogEntry>& entries, CategoryStatus& category);

std::string StatusJson(const StatusReport& report);
std::string StatusText(const StatusReport& report);
std::string StatusHtml(const StatusReport& report);

}  // namespace vemtu::check
