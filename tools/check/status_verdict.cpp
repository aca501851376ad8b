// The verdict of `vemtu-check status`: every reason to act, each with its cause and its fix,
// and the one line with the worst of them that monitoring systems read first.
#include <algorithm>

#include "platform/paths.h"
#include "key_owner.h"
#include "status_report.h"
#include "transport_errors.h"

namespace vemtu::check {

namespace {

// Run-log lines that say the run could not post at all, with what fixes each.
struct Stopper {
  const char* text;    // found anywhere in the line's message or first detail
  const char* action;
};
const Stopper kStoppers[] = {
    {"ControllerPSite",
     "set [DCConnURL] ControllerPSite in KOLTMobile.INI to scheme://host[:port]/path "
     "(vemtu-check config names the fault)"},
    {"Unable to get Registration ID",
     "set DCRegId, AgentType, MemberId and SiteId in KOLTMobile.INI (vemtu-check config "
     "names the missing ones)"},
    {"Unable to create instance of XML Encryption Component",
     "register the cipher component: vemtu-cipher register"},
    {"Unable to create mutex",
     "the lock was made by a run under another user: run every category of this folder as "
     "one user, or, as root, remove that user's lock from the lock store while no run goes on"},
    {"Unable to terminate previous process",
     "end the process the run record names, or find why it does not end"},
    {"Unable to open folder", "make it a plain folder of the runs' user, not a link"},
    {" is missing", "create it as a plain folder of the runs' user"},
    {"run record", "make Configuration/WebPost and its INI files writable by the runs' user"},
    {"Unable to write transfer log",
     "free the disk, remove a transfer log that is a link or no file, or end what holds its lock"},
};

constexpr char kUndecipherable[] = "cannot be deciphered with this machine's key";

std::string Age(std::int64_t seconds) {
  if (seconds < 120) return std::to_string(seconds) + " s";
  if (seconds < 7200) return std::to_string(seconds / 60) + " min";
  return std::to_string(seconds / 3600) + " h";
}

std::string Quoted(const LogEntry& e) {
  std::string text = "\"" + e.message + (e.detail1.empty() ? "" : " " + e.detail1) + "\"";
  if (e.error != 0) text += " (" + std::to_string(e.error) + " " + e.error_text + ")";
  return text + " at " + e.stamp;
}

void Add(StatusReport& r, Severity severity, std::string subject, std::string cause,
         std::string action) {
  r.findings.push_back({severity, std::move(subject), std::move(cause), std::move(action)});
}

void JudgeKey(StatusReport& r, const std::string& subject, const LogEntry& e) {
  std::string cause = "the last run logged " + Quoted(e), owner_cause, fix;
  if (KeyHeldByAnother(r.key, owner_cause, fix))
    Add(r, Severity::kWarning, subject, cause + "; " + owner_cause, fix);
  else
    Add(r, Severity::kWarning, subject, cause,
        "encipher the credentials again as the runs' user: vemtu-cipher encrypt TEXT");
}

void JudgeRunLog(StatusReport& r, const CategoryStatus& c) {
  for (const LogEntry& e : c.last_run_errors) {
    const std::string line = e.message + " " + e.detail1;
    if (line.find(kUndecipherable) != std::string::npos) {
      JudgeKey(r, c.name, e);
      continue;
    }
    for (const Stopper& stopper : kStoppers) {
      if (line.find(stopper.text) == std::string::npos) continue;
      Add(r, Severity::kCritical, c.name, "the last run logged " + Quoted(e), stopper.action);
      break;
    }
  }
}

void JudgeFolder(StatusReport& r) {
  if (!r.agent_present)
    Add(r, Severity::kCritical, "agent folder", "Vemtu.EXE is not in " + r.folder,
        "install the agent there, or name its folder with --folder");
  if (r.disk.known && r.disk.read_only)
    Add(r, Severity::kCritical, "agent folder",
        "the disk holding " + r.folder + " is read-only: runs can write no log line, so they post nothing",
        "mount it read-write, or move the agent folder");
  else if (r.disk.known && r.disk.free_bytes < kDiskFullBytes)
    Add(r, Severity::kCritical, "agent folder",
        "the disk holding " + r.folder + " is full (" + std::to_string(r.disk.free_bytes) +
            " bytes free): runs cannot write their logs, so they post nothing",
        "free space on that disk");
  for (const auto& [path, kind] : r.unwritable_logs)
    Add(r, Severity::kCritical, path,
        std::string("the log is ") + (kind == EntryKind::kLink ? "a link" : kind == EntryKind::kFolder ? "a folder" : "no regular file") +
            ": runs write no line to it, and files of its prefix are not posted",
        "remove it; the next run starts a new log");
  bool any_run_log = false;
  for (const CategoryStatus& c : r.categories) {
    any_run_log = any_run_log || c.has_run_log;
    if (c.has_run_log && c.posts && !c.folder_exists)
      Add(r, Severity::kCritical, c.name,
          "the category folder " + r.folder + platform::kPathSeparator + c.name + " is missing or a link: the "
          "monitoring agent has nowhere to leave its files",
          "create it as a plain folder of the runs' user");
  }
  const std::string timer = "see whether runs are started (systemctl status vemtu.timer) "
                            "and can write their logs (vemtu-check config)";
  if (!any_run_log || r.last_run < 0)
    Add(r, Severity::kCritical, "runs", "no run has written a run log in this folder", timer);
  else if (r.now - r.last_run >= r.max_run_age)
    Add(r, Severity::kCritical, "runs",
        "no run started or finished in the last " + Age(r.max_run_age) + " (the last " +
            Age(r.now - r.last_run) + " ago)",
        timer);
}

void JudgeMethods(StatusReport& r) {
  const LastAttempt& a = r.last_attempt;
  if (a.time < 0 || a.accepted || a.refused || a.methods_failed == 0) return;
  std::string errors;
  bool all_unreachable = true, certificate = false;
  for (long long error : a.errors) {
    errors += (errors.empty() ? "" : ", ") + std::to_string(error);
    SendFailure failure = ClassifySendError(error);
    all_unreachable = all_unreachable && failure == SendFailure::kUnreachable;
    certificate = certificate || failure == SendFailure::kCertificate;
  }
  std::string cause = "every send method failed for " + a.file + " at " + FormatStamp(a.time) +
                      " (" + errors + ")";
  if (certificate)
    Add(r, Severity::kCritical, "send methods",
        cause + ": the data centre's certificate is not trusted",
        "install its issuer's certificate in the system's trust store or correct the site's "
        "name; vemtu-check output shows each method");
  else if (all_unreachable)
    Add(r, Severity::kCritical, "send methods",
        cause + ": the data centre, or the proxy on the way to it, cannot be reached",
        "run vemtu-check output to see which way is closed");
  else
    Add(r, Severity::kCritical, "send methods", cause,
        "run vemtu-check output to see each method's error");
}

void JudgeFiles(StatusReport& r) {
  for (const CategoryStatus& c : r.categories) {
    if (c.overdue > 0)
      Add(r, Severity::kWarning, c.name,
          std::to_string(c.overdue) + " file(s) waiting longer than " + Age(r.max_age) +
              " (oldest " + c.oldest_name + ", " + Age(r.now - c.oldest_written) + ")",
          "see the reasons above, the run log and vemtu-check output");
    if (c.new_errors > 0)
      Add(r, Severity::kWarning, c.name,
          std::to_string(c.new_errors) + " file(s) moved to Error in the last " +
              Age(r.max_age) + " (newest " + c.newest_error_name + ")",
          "the run log and their prefix's transfer log say why; moved back to its category "
          "folder, a file is posted again");
    else if (c.error_files >= kErrorFolderWarnFiles)
      Add(r, Severity::kWarning, c.name,
          std::to_string(c.error_files) + " files lie in Error",
          "look into them and clear the folder");
  }
}

}  // namespace

const char* SeverityName(Severity severity) {
  switch (severity) {
    case Severity::kOk: return "OK";
    case Severity::kWarning: return "WARNING";
    case Severity::kCritical: return "CRITICAL";
    case Severity::kUnknown: return "UNKNOWN";
  }
  return "UNKNOWN";
}

std::string ReasonText(const Reason& f) {
  return f.subject + ": " + f.cause + " -- fix: " + f.action;
}

void JudgeStatus(StatusReport& r) {
  if (!r.folder_readable) {
    Add(r, Severity::kUnknown, "agent folder", r.folder + " does not exist or cannot be read",
        "name the agent's folder with --folder, and run the check as a user who may read it");
  } else {
    JudgeFolder(r);
    for (const CategoryStatus& c : r.categories) JudgeRunLog(r, c);
    JudgeMethods(r);
    JudgeFiles(r);
  }
  // The worst first, each severity in the order found.
  std::stable_sort(r.findings.begin(), r.findings.end(), [](const Reason& a, const Reason& b) {
    return static_cast<int>(a.severity) > static_cast<int>(b.severity);
  });
  r.verdict = r.findings.empty() ? Severity::kOk : r.findings.front().severity;
  for (const Reason& f : r.findings) r.stuck.push_back(ReasonText(f));
}

std::string VerdictLine(const StatusReport& r) {
  std::string line = std::string(SeverityName(r.verdict)) + ": ";
  if (r.findings.empty())
    line += "nothing stuck, last run " + Age(r.now - r.last_run) + " ago";
  else
    line += r.findings.front().subject + ": " + r.findings.front().cause +
            (r.findings.size() > 1 ? " (+" + std::to_string(r.findings.size() - 1) + " more)" : "");
  if (!r.folder_readable) return line + "\n";
  int waiting = 0, overdue = 0, new_errors = 0, error_files = 0, failed = 0, posts = 0;
  for (const CategoryStatus& c : r.categories) {
    waiting += c.waiting;
    overdue += c.overdue;
    new_errors += c.new_errors;
    error_files += c.error_files;
  }
  for (const PrefixStatus& p : r.prefixes) failed += p.failed;
  for (int n : r.posts_per_hour) posts += n;
  line += " | waiting=" + std::to_string(waiting) + ";;;0 overdue=" + std::to_string(overdue) +
          ";1;;0 error_new=" + std::to_string(new_errors) + ";1;;0 error_files=" +
          std::to_string(error_files) + ";" + std::to_string(kErrorFolderWarnFiles) +
          ";;0 failed_files=" + std::to_string(failed) + ";;;0 posts_24h=" + std::to_string(posts) +
          ";;;0";
  if (r.last_run >= 0)
    line += " last_run_age=" + std::to_string(r.now - r.last_run) + "s;;" +
            std::to_string(r.max_run_age) + ";0";
  if (r.disk.known)
    line += " disk_free=" + std::to_string(r.disk.free_bytes) + "B;;" +
            std::to_string(kDiskFullBytes) + ";0";
  return line + "\n";
}

}  // namespace vemtu::check
