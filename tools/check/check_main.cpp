// vemtu-check: is this agent folder ready to run, and can it reach the data centre?
//   vemtu-check config [--folder DIR]
//   vemtu-check output [--folder DIR] [--timeout SECONDS]
// Exit code 0: ready (config) or at least one method reaches the primary site (output);
// 1: not; 2: misuse.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "agent_folder.h"
#include "config_check.h"
#include "output_check.h"

namespace {

const char kUsage[] =
    "usage: vemtu-check config [--folder DIR]\n"
    "       vemtu-check output [--folder DIR] [--timeout SECONDS]\n"
    "\n"
    "config  reads the agent folder as a run would and prints every problem with its fix,\n"
    "        one line each: identity values missing, values that hold an inline comment,\n"
    "        site URLs that do not split, proxy credentials that cannot be deciphered,\n"
    "        rule files that yield no rule, a post database that is not whole records,\n"
    "        folders that are links or not writable, logs about to restart.\n"
    "        Exit 0 when the folder is ready.\n"
    "output  tries each of the seven send methods in cascade order against each site, as\n"
    "        far as a post would go but with a GET and no result file: name resolution,\n"
    "        connection (direct, named proxy, default proxy), proxy authentication and TLS\n"
    "        with that library's certificate rules. Prints one line per method: number,\n"
    "        procedure, outcome, error number and text. Posts nothing and writes nothing\n"
    "        in the agent folder. Exit 0 when a method reaches the primary site.\n"
    "\n"
    "--folder DIR      the agent folder (default: the folder of vemtu-check)\n"
    "--timeout SECONDS longest wait for one step of a method (default 20)\n";

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
  for (int i = 2; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--help") {
      std::fputs(kUsage, stdout);
      return 0;
    }
    if (i + 1 >= argc) return Usage(("unknown option or missing value: " + arg).c_str());
    if (arg == "--folder") {
      folder = argv[++i];
    } else if (arg == "--timeout") {
      char* end = nullptr;
      timeout_seconds = std::strtoul(argv[++i], &end, 10);
      if (*end || timeout_seconds == 0 || timeout_seconds > 600) return Usage("bad --timeout");
    } else {
      return Usage(("unknown option " + arg).c_str());
    }
  }
  vemtu::check::AgentFolder agent(folder);
  if (command == "config") return RunConfig(agent);
  if (command == "output") return RunOutput(agent, timeout_seconds * 1000);
  return Usage(("unknown command " + command).c_str());
}
