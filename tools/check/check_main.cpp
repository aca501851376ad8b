// vemtu-check: is this agent folder ready to run, and can it reach the data centre?
//   vemtu-check config [--folder DIR]
//   vemtu-check output [--folder DIR] [--timeout SECONDS]
//   vemtu-check status [--folder DIR] [--max-age AGE] [--max-run-age AGE] [--json] [--html FILE]
//   vemtu-check --version
// Exit code of config and output: 0 ready / reached, 1 not. Of status, as monitoring
// checks read it: 0 OK, 1 WARNING, 2 CRITICAL. 3 (UNKNOWN) on misuse, or when the folder
// cannot be read.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "agent_setup.h"
#include "config_check.h"
#include "driver/agent_process.h"
#include "output_check.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "status_report.h"
#include "tool_version.h"

namespace {

const char kUsage[] =
    "usage: vemtu-check config [--folder DIR]\n"
    "       vemtu-check output [--folder DIR] [--timeout SECONDS]\n"
    "       vemtu-check status [--folder DIR] [--max-age AGE] [--max-run-age AGE] [--json]\n"
    "                          [--html FILE]\n"
    "       vemtu-check --version\n"
    "\n"
    "config  reads the agent folder as a run would and prints every problem with its fix,\n"
    "        one line each: identity values missing, an INI the agent cannot read (UTF-16),\n"
    "        values that hold an inline comment, site URLs that do not split, a proxy that\n"
    "        does not answer, proxy credentials that cannot be deciphered, rule files that\n"
    "        yield no rule, a post database that is not whole records, category folders\n"
    "        missing, folders that are links or not writable, locks the runs cannot open,\n"
    "        logs about to restart.\n"
    "        Exit 0 when the folder is ready.\n"
    "output  tries each of the seven send methods in cascade order against each site, as\n"
    "        far as a post would go but with a GET and no result file: name resolution,\n"
    "        connection (direct, named proxy, default proxy), proxy authentication and TLS\n"
    "        with that library's certificate rules. Prints one line per method: number,\n"
    "        procedure, outcome, error number and text. Posts nothing and writes nothing\n"
    "        in the agent folder. Exit 0 when a method reaches the primary site.\n"
    "status  a check for monitoring systems: the first line is the verdict (OK, WARNING,\n"
    "        CRITICAL, UNKNOWN) with its first reason, and performance data after \"|\";\n"
    "        then every reason with its fix, and per category the files waiting (count,\n"
    "        bytes, oldest), in retry names, in Error; whether a run is going on, its last\n"
    "        start and finish and watchdog counter; per name prefix the last accepted post;\n"
    "        per send method the last failure with its error number and text; the last\n"
    "        errors of the run logs. Reads only; takes no lock a run takes.\n"
    "        CRITICAL (exit 2): the last run of a category logged that it cannot post\n"
    "        (site address, registration, locks, folders, run record, transfer log);\n"
    "        every send method failed for the newest file; a category folder, the\n"
    "        agent or the room on the disk is missing; a log is a link or no file; no run\n"
    "        within --max-run-age. WARNING (exit 1): files waiting longer than --max-age,\n"
    "        files that reached Error within it, credentials the key cannot decipher.\n"
    "        UNKNOWN (exit 3): the folder does not exist or cannot be read.\n"
    "\n"
    "--folder DIR      the agent folder (default: the folder of vemtu-check)\n"
    "--timeout SECONDS longest wait for one step of a method (default 20)\n"
    "--max-age AGE     how long a file may wait: seconds, or a number with s, m or h\n"
    "                  (default 1h)\n"
    "--max-run-age AGE how long since the last run started or finished (default 1h: runs\n"
    "                  start every 5 minutes)\n"
    "--json            status as one JSON object on standard output (see README.md)\n"
    "--html FILE       also write status as one self-contained HTML page to FILE\n"
    "--version         the version of vemtu-check and of the agent beside it\n";

// Misuse is "UNKNOWN" to a monitoring system: the check said nothing about the folder.
constexpr int kMisuse = static_cast<int>(vemtu::check::Severity::kUnknown);

int Usage(const char* problem) {
  if (problem) std::fprintf(stderr, "vemtu-check: %s\n", problem);
  std::fputs(kUsage, stderr);
  return kMisuse;
}

int RunConfig(const vemtu::check::AgentSetup& agent) {
  auto findings = vemtu::check::CheckConfig(agent);
  int problems = 0;
  for (const auto& f : findings) {
    problems += f.problem;
    std::printf("%s: %s -- fix: %s\n", f.problem ? "problem" : "note", f.what.c_str(),
                f.fix.c_str());
  }
  if (problems == 0) std::printf("ready: %s\n", agent.folder.c_str());
  return problems ? 1 : 0;
}

int RunOutput(vemtu::check::AgentSetup& agent, unsigned long timeout_ms) {
  std::vector<std::string> notes;
  auto rows = vemtu::check::CheckOutput(agent, timeout_ms, notes);
  for (const auto& note : notes) std::printf("note: %s\n", note.c_str());
  bool primary_reached = false;
  std::string site;
  for (const auto& row : rows) {
    if (row.site != site) {
      site = row.site;
      std::printf("site %s\n  %-2s %-28s %-5s %-52s %-6s %s\n", site.c_str(), "#", "procedure",
                  "ok", "outcome", "error", "text");
    }
    std::printf("  %-2d %-28s %-5s %-52s %-6lu %s\n", row.number, row.name.c_str(),
                row.usable ? "yes" : "no", row.outcome.c_str(), row.error, row.error_text.c_str());
    if (row.usable && row.site == agent.Value("ControllerPSite")) primary_reached = true;
  }
  if (rows.empty())
    std::printf(agent.Value("ControllerPSite").empty()
                    ? "no site to try: set ControllerPSite\n"
                    : "no site to try: ControllerPSite is malformed (see the note above)\n");
  return primary_reached ? 0 : 1;
}

// "90", "90s", "15m", "2h" as seconds; -1 when it is none of these.
long long ParseAge(const std::string& text) {
  char* end = nullptr;
  long long value = std::strtoll(text.c_str(), &end, 10);
  if (end == text.c_str() || value <= 0 || value > 100LL * 24 * 3600) return -1;
  std::string unit = end;
  if (unit.empty() || unit == "s") return value;
  if (unit == "m") return value * 60;
  if (unit == "h") return value * 3600;
  return -1;
}

struct StatusOptions {
  long long max_age = 3600;
  long long max_run_age = 3600;
  bool json = false;
  std::string html_file;
};

int RunStatus(const vemtu::check::AgentSetup& agent, const StatusOptions& options) {
  const long long now = std::chrono::duration_cast<std::chrono::seconds>(
                            std::chrono::system_clock::now().time_since_epoch())
                            .count();
  auto report = vemtu::check::ReadStatus(agent, now, options.max_age, options.max_run_age);
  if (!options.html_file.empty()) {
    std::string page = vemtu::check::StatusHtml(report);
    auto file = vemtu::platform::File::Open(options.html_file,
                                           vemtu::platform::OpenMode::kWriteTruncate);
    if (!file.IsOpen() || !file.Write(page.data(), page.size())) {
      std::fprintf(stderr, "vemtu-check: cannot write %s\n", options.html_file.c_str());
      return kMisuse;
    }
  }
  std::string out = options.json ? vemtu::check::StatusJson(report) : vemtu::check::StatusText(report);
  std::fwrite(out.data(), 1, out.size(), stdout);
  return static_cast<int>(report.verdict);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return Usage(nullptr);
  if (vemtu::tools::AsksVersion(argc, argv)) {
    vemtu::tools::PrintVersion("vemtu-check");
    const std::string agent = vemtu::check::OwnFolder() + vemtu::platform::kPathSeparator +
                              vemtu::kAgentImageName;
    const std::string version = vemtu::check::AgentVersion(agent);
    std::printf("%s %s\n", vemtu::kAgentImageName,
                version.empty() ? "(not found beside vemtu-check)" : version.c_str());
    return 0;
  }
  std::string command = argv[1];
  if (command == "--help" || command == "-h" || command == "help") {
    std::fputs(kUsage, stdout);
    return 0;
  }
  std::string folder = vemtu::check::OwnFolder();
  unsigned long timeout_seconds = 20;
  StatusOptions status;
  for (int i = 2; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--help") {
      std::fputs(kUsage, stdout);
      return 0;
    }
    if (arg == "--json" && command == "status") {
      status.json = true;
      continue;
    }
    if (i + 1 >= argc) return Usage(("unknown option or missing value: " + arg).c_str());
    if (arg == "--folder") {
      folder = argv[++i];
    } else if (arg == "--timeout") {
      char* end = nullptr;
      timeout_seconds = std::strtoul(argv[++i], &end, 10);
      if (*end || timeout_seconds == 0 || timeout_seconds > 600) return Usage("bad --timeout");
    } else if (arg == "--max-age" && command == "status") {
      status.max_age = ParseAge(argv[++i]);
      if (status.max_age < 0) return Usage("bad --max-age: give seconds, or a number with s, m or h");
    } else if (arg == "--max-run-age" && command == "status") {
      status.max_run_age = ParseAge(argv[++i]);
      if (status.max_run_age < 0)
        return Usage("bad --max-run-age: give seconds, or a number with s, m or h");
    } else if (arg == "--html" && command == "status") {
      status.html_file = argv[++i];
    } else {
      return Usage(("unknown option " + arg).c_str());
    }
  }
  vemtu::check::AgentSetup agent(folder);
  if (command == "config") return RunConfig(agent);
  if (command == "output") return RunOutput(agent, timeout_seconds * 1000);
  if (command == "status") return RunStatus(agent, status);
  return Usage(("unknown command " + command).c_str());
}
