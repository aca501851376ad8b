// vemtu-check: is this agent folder ready to run, and can it reach the data centre?
//   vemtu-check config [--folder DIR]
//   vemtu-check output [--folder DIR] [--timeout SECONDS]
//   vemtu-check status [--folder DIR] [--max-age AGE] [--json] [--html FILE]
// Exit code 0: ready (config), at least one method reaches the primary site (output),
// nothing stuck (status); 1: not; 2: misuse.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "agent_folder.h"
#include "config_check.h"
#include "output_check.h"
#include "platform/files.h"
#include "status_report.h"

namespace {

const char kUsage[] =
    "usage: vemtu-check config [--folder DIR]\n"
    "       vemtu-check output [--folder DIR] [--timeout SECONDS]\n"
    "       vemtu-check status [--folder DIR] [--max-age AGE] [--json] [--html FILE]\n"
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
    "status  what is waiting, what is stuck and why: per category the files waiting (count,\n"
    "        bytes, oldest), in retry names, in Error; whether a run is going on, its last\n"
    "        start and finish and watchdog counter; per name prefix the last accepted post;\n"
    "        per send method the last failure with its error number and text; the last\n"
    "        errors of the run logs. Reads only; takes no lock a run takes. Exit 1 when a\n"
    "        category has files older than --max-age or files that reached Error within it.\n"
    "\n"
    "--folder DIR      the agent folder (default: the folder of vemtu-check)\n"
    "--timeout SECONDS longest wait for one step of a method (default 20)\n"
    "--max-age AGE     how long a file may wait: seconds, or a number with s, m or h\n"
    "                  (default 1h)\n"
    "--json            status as one JSON object on standard output (see README.md)\n"
    "--html FILE       also write status as one self-contained HTML page to FILE\n";

int Usage(const char* problem) {
  if (problem) std::fprintf(stderr, "vemtu-check: %s\n", problem);
  std::fputs(kUsage, stderr);
  return 2;
}

int RunConfig(const vemtu::check::AgentFolder& agent) {
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

int RunOutput(vemtu::check::AgentFolder& agent, unsigned long timeout_ms) {
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
  if (rows.empty()) std::printf("no site to try: set ControllerPSite\n");
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
  bool json = false;
  std::string html_file;
};

int RunStatus(const vemtu::check::AgentFolder& agent, const StatusOptions& options) {
  const long long now = std::chrono::duration_cast<std::chrono::seconds>(
                            std::chrono::system_clock::now().time_since_epoch())
                            .count();
  auto report = vemtu::check::ReadStatus(agent, now, options.max_age);
  if (!options.html_file.empty()) {
    std::string page = vemtu::check::StatusHtml(report);
    auto file = vemtu::platform::File::Open(options.html_file,
                                           vemtu::platform::OpenMode::kWriteTruncate);
    if (!file.IsOpen() || !file.Write(page.data(), page.size())) {
      std::fprintf(stderr, "vemtu-check: cannot write %s\n", options.html_file.c_str());
      return 2;
    }
  }
  std::string out = options.json ? vemtu::check::StatusJson(report) : vemtu::check::StatusText(report);
  std::fwrite(out.data(), 1, out.size(), stdout);
  return report.stuck.empty() ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return Usage(nullptr);
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
    } else if (arg == "--html" && command == "status") {
      status.html_file = argv[++i];
    } else {
      return Usage(("unknown option " + arg).c_str());
    }
  }
  vemtu::check::AgentFolder agent(folder);
  if (command == "config") return RunConfig(agent);
  if (command == "output") return RunOutput(agent, timeout_seconds * 1000);
  if (command == "status") return RunStatus(agent, status);
  return Usage(("unknown command " + command).c_str());
}
