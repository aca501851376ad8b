// The agent as a whole process: a run posting 1,000 files of 2 KB (half of them packed)
// to the simulator on loopback, in turn with the mandated-work peer (bench_mandated_peer,
// the same files in a folder of its own) and a plain libcurl loop posting the same file
// bodies (each file with a prefix of its own, or all with one); and a run with nothing
// to post beside starting `true`. Before any benchmark the peer's requests and transfer
// log lines are checked against the agent's, byte for byte but for time stamps.
#include <benchmark/benchmark.h>
#include <curl/curl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/vfs.h>
#include <unistd.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <regex>
#include <string>
#include <vector>

#include "dcsim_process.h"
#include "support/agent_runner.h"
#include "support/test_files.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using vemtu::test::TempDir;
using vemtu::test::WriteFileBytes;

constexpr int kFiles = 1000;
constexpr std::size_t kFileBytes = 2048;
constexpr const char* kCategory = "ATPostLogs";

// Folders in memory where the machine has them: what a run writes then costs the same
// every round, whatever the disk's file system did with the rounds before.
fs::path MemoryFolder() {
  std::error_code error;
  return fs::is_directory("/dev/shm", error) ? fs::path("/dev/shm") : fs::temp_directory_path();
}

// A folder on a real disk for the runs "on disk": the temporary folder unless that lives
// in memory (TMPDIR set to /dev/shm, or /tmp mounted as tmpfs), else /var/tmp.
fs::path DiskFolder() {
  constexpr long kTmpfsMagic = 0x01021994, kRamfsMagic = 0x858458f6;
  const fs::path candidates[] = {fs::temp_directory_path(), "/tmp", "/var/tmp"};
  for (const fs::path& candidate : candidates) {
    struct statfs info {};
    if (statfs(candidate.c_str(), &info) == 0 && info.f_type != kTmpfsMagic &&
        info.f_type != kRamfsMagic) {
      return candidate;
    }
  }
  std::fprintf(stderr, "no temporary folder on a disk: the runs \"on disk\" are in memory\n");
  return fs::temp_directory_path();
}

// The journaled file system for the runs "on a journaled disk": the folder that bench.sh
// mounted (a loop-mounted ext4 when it runs as root), named by VEMTU_BENCH_JOURNALED;
// else memory, and the program says so.
fs::path JournaledFolder() {
  const char* folder = std::getenv("VEMTU_BENCH_JOURNALED");
  std::error_code error;
  if (folder && fs::is_directory(folder, error)) return folder;
  std::fprintf(stderr, "no journaled file system given: the journaled runs are in memory\n");
  return MemoryFolder();
}

// Where a run's folder lives: range(0) of the side-by-side benchmark.
fs::path Place(std::int64_t where) {
  switch (where) {
    case 0: return MemoryFolder();
    case 1: return JournaledFolder();
    default: return DiskFolder();
  }
}

constexpr const char* kQuery = "mmid=M1&sid=S1&rid=R1&rty=T1";

// One simulator for the whole program, answering "1" to everything; what it stores goes
// to memory, as both peers make it store the same.
struct Simulator {
  TempDir dir{MemoryFolder()};
  dcsim::DcsimProcess process;
  Simulator() {
    std::string error;
    if (!process.Start(std::string(VEMTU_BIN_DIR) + "/dcsim", dir / "received", {}, error)) {
      std::fprintf(stderr, "%s\n", error.c_str());
      std::exit(1);
    }
  }
  std::string Site() const { return "http://127.0.0.1:" + std::to_string(process.http_port) + "/dc"; }
  std::string Url(const std::string& prefix) const {
    return Site() + "/tfr_" + prefix + ".asp?" + kQuery;
  }
};

Simulator& Sim() {
  static Simulator simulator;
  return simulator;
}

// File `i`: odd numbers are "_Y_" XML files (packed by the agent), even ones plain text.
// With `new_prefix` each file has a prefix (and so a transfer log and its lock) of its
// own; otherwise all share the prefix "B".
std::string Prefix(int i, bool new_prefix) { return new_prefix ? "B" + std::to_string(i) : "B"; }
std::string FileName(int i, bool new_prefix) {
  std::string serial = new_prefix ? "1" : std::to_string(i);
  return Prefix(i, new_prefix) + (i % 2 ? "_Y_" + serial + ".xml" : "_N_" + serial + ".txt");
}
std::string FileBody(int i) {
  std::string filler(kFileBytes, 'a' + i % 26);
  if (i % 2 == 0) return filler;
  std::string head = "<r><v>", tail = "</v></r>";
  return head + filler.substr(0, kFileBytes - head.size() - tail.size()) + tail;
}

// An agent folder under `base` with the agent installed and an INI pointing at the
// simulator.
struct AgentFolder {
  TempDir dir;
  std::string exe;
  explicit AgentFolder(const fs::path& base = fs::temp_directory_path()) : dir(base) {
    exe = vemtu::test::InstallAgent(dir / "agent");
    WriteFileBytes(dir / "agent/KOLTMobile.INI",
                   "[MACHINE_INFO]\r\nDCRegId=R1\r\nAgentType=T1\r\n[CONTROLLER_INFO]\r\n"
                   "MemberId=M1\r\nSiteId=S1\r\n[DCConnURL]\r\nControllerPSite=http://127.0.0.1:" +
                       std::to_string(Sim().process.http_port) + "/dc\r\n");
    fs::create_directories(dir / "agent/Configuration/WebPost");
    fs::create_directories(dir / ("agent/" + std::string(kCategory)));
  }
  void Fill(bool new_prefix, int files = kFiles) const {
    for (int i = 0; i < files; ++i)
      WriteFileBytes(dir / ("agent/" + std::string(kCategory) + "/" + FileName(i, new_prefix)),
                     FileBody(i));
  }
  // How many files are left in the category folder (its Error folder aside).
  int Left() const {
    int left = 0;
    for (const auto& entry : fs::directory_iterator(dir / ("agent/" + std::string(kCategory))))
      left += entry.is_regular_file() ? 1 : 0;
    return left;
  }
  // The mandated-work peer's run over this folder.
  bool RunPeer() const {
    return vemtu::test::RunProgram({std::string(VEMTU_BIN_DIR) + "/bench_mandated_peer",
                                    dir / "agent", kCategory, Sim().Site(), kQuery},
                                   600000) == 0;
  }
  std::string RunLog() const {
    return vemtu::test::ReadFileBytes(dir / ("agent/ApplicationLog/WebPost/WebPostExe/WebPost" +
                                             std::string(kCategory) + ".log"));
  }
};

size_t Discard(char*, size_t size, size_t count, void*) { return size * count; }

// A plain loop of libcurl posts of the same bodies, a new connection for every post as
// the agent's transport opens one.
class CurlLoop {
 public:
  explicit CurlLoop(bool new_prefix) : curl_(curl_easy_init(), curl_easy_cleanup) {
    for (int i = 0; i < kFiles; ++i) {
      bodies_.push_back(FileBody(i));
      urls_.push_back(Sim().Url(Prefix(i, new_prefix)));
    }
    curl_easy_setopt(curl_.get(), CURLOPT_WRITEFUNCTION, Discard);
    curl_easy_setopt(curl_.get(), CURLOPT_NOPROXY, "*");
    curl_easy_setopt(curl_.get(), CURLOPT_FORBID_REUSE, 1L);
  }
  bool PostAll() {
    for (int i = 0; i < kFiles; ++i) {
      curl_easy_setopt(curl_.get(), CURLOPT_URL, urls_[i].c_str());
      curl_easy_setopt(curl_.get(), CURLOPT_POSTFIELDS, bodies_[i].data());
      curl_easy_setopt(curl_.get(), CURLOPT_POSTFIELDSIZE, static_cast<long>(bodies_[i].size()));
      if (curl_easy_perform(curl_.get()) != CURLE_OK) return false;
    }
    return true;
  }

 private:
  std::unique_ptr<CURL, void (*)(CURL*)> curl_;
  std::vector<std::string> bodies_, urls_;
};

// Rounds of the agent's run, the peer's run and the curl loop in turn (each goes first in
// its turn of rounds), so that all meet the same load; range(0) places the folders in
// memory (0), on a journaled file system (1, JournaledFolder) or the temporary folder's
// disk (2, DiskFolder); range(1) 1 gives each file a prefix of its own, 0 one prefix to
// all. A round in which a run posted nothing (another folder's run held a machine-wide
// lock, say) is refused and repeated. The counters give files per second of each and the
// ratios between them.
void BM_Run_SideBySide(benchmark::State& state) {
  AgentFolder agent(Place(state.range(0)));
  AgentFolder peer(Place(state.range(0)));
  const bool new_prefix = state.range(1) != 0;
  CurlLoop curl(new_prefix);
  using Clock = std::chrono::steady_clock;
  Clock::duration spent[3] = {};  // agent, peer, curl loop
  int first = 0, refused = 0;
  // One round, `first` going first; kNone when a run posted nothing at all.
  enum class Outcome { kAll, kNone, kPart };
  auto run_round = [&](Clock::duration (&round)[3]) {
    for (int turn = 0; turn < 3; ++turn) {
      const int who = (first + turn) % 3;
      if (who < 2) (who == 0 ? agent : peer).Fill(new_prefix);
      auto start = Clock::now();
      bool done = who == 2 ? curl.PostAll()
                           : who == 0 ? !vemtu::test::RunAgent(agent.exe, {kCategory}, 600000).timed_out
                                      : peer.RunPeer();
      round[who] = Clock::now() - start;
      const int left = who == 2 ? (done ? 0 : kFiles) : (who == 0 ? agent : peer).Left();
      if (left == kFiles) return Outcome::kNone;
      if (!done || left != 0) return Outcome::kPart;
    }
    return Outcome::kAll;
  };
  for (auto _ : state) {
    Clock::duration round[3] = {};
    Outcome outcome = run_round(round);
    while (outcome == Outcome::kNone && refused++ < 5) {
      std::fprintf(stderr, "round refused: a run posted nothing; repeated\n");
      for (AgentFolder* folder : {&agent, &peer}) {
        fs::remove_all(folder->dir / ("agent/" + std::string(kCategory)));
        fs::create_directories(folder->dir / ("agent/" + std::string(kCategory)));
      }
      outcome = run_round(round);
    }
    if (outcome != Outcome::kAll) {
      std::fprintf(stderr, "%s\n", agent.RunLog().c_str());
      state.SkipWithError("a run left files behind");
      return;
    }
    for (int who = 0; who < 3; ++who) spent[who] += round[who];
    first = (first + 1) % 3;
  }
  auto rate = [&](Clock::duration time) {
    return static_cast<double>(kFiles) * static_cast<double>(state.iterations()) /
           std::chrono::duration<double>(time).count();
  };
  state.counters["agent_files_per_s"] = rate(spent[0]);
  state.counters["peer_files_per_s"] = rate(spent[1]);
  state.counters["curl_files_per_s"] = rate(spent[2]);
  state.counters["agent_vs_curl"] = rate(spent[0]) / rate(spent[2]);
  state.counters["agent_vs_peer"] = rate(spent[0]) / rate(spent[1]);
  state.counters["peer_vs_curl"] = rate(spent[1]) / rate(spent[2]);
  state.counters["refused_rounds"] = refused;
}

// ---- The peer checked against the agent on a few files.

// The requests the simulator stored since `known` of them: request line -> head and body.
std::map<std::string, std::string> NewRequests(const fs::path& received, std::size_t& known) {
  std::map<std::string, std::string> requests;
  std::vector<fs::path> heads;
  for (const auto& entry : fs::directory_iterator(received))
    if (entry.path().extension() == ".head") heads.push_back(entry.path());
  std::sort(heads.begin(), heads.end());
  for (std::size_t i = known; i < heads.size(); ++i) {
    const std::string head = vemtu::test::ReadFileBytes(heads[i]);
    fs::path body = heads[i];
    requests[head.substr(0, head.find('\r'))] =
        head + vemtu::test::ReadFileBytes(body.replace_extension(".body"));
  }
  known = heads.size();
  return requests;
}

// The transfer logs of a run, with time stamps and the run's folder masked.
std::map<std::string, std::string> TransferLogs(const AgentFolder& folder) {
  static const std::regex kStamp("\\d\\d/\\d\\d/\\d{4} \\d\\d:\\d\\d:\\d\\d [AP]M\\t");
  std::map<std::string, std::string> logs;
  const std::string root = folder.dir / "agent";
  for (const auto& entry : fs::directory_iterator(folder.dir / "agent/ApplicationLog/WebPost/WebPostExe")) {
    const std::string name = entry.path().filename().string();
    if (name.rfind("tfr_", 0) != 0) continue;
    std::string text = std::regex_replace(vemtu::test::ReadFileBytes(entry.path()), kStamp, "T\t");
    for (std::size_t at = 0; (at = text.find(root, at)) != std::string::npos;)
      text.replace(at, root.size(), "FOLDER");
    logs[name] = text;
  }
  return logs;
}

// Runs the agent and the peer over the same six files (three packed), each file with a
// prefix of its own; false, with the first difference shown, unless the requests and the
// transfer logs are the same.
bool PeerMatchesAgent() {
  AgentFolder agent(MemoryFolder()), peer(MemoryFolder());
  const fs::path received = Sim().dir / "received";
  std::size_t known = 0;
  NewRequests(received, known);
  agent.Fill(true, 6);
  vemtu::test::RunAgent(agent.exe, {kCategory}, 60000);
  const auto agent_requests = NewRequests(received, known);
  peer.Fill(true, 6);
  peer.RunPeer();
  const auto peer_requests = NewRequests(received, known);
  const auto agent_logs = TransferLogs(agent), peer_logs = TransferLogs(peer);
  const bool same = agent_requests.size() == 6 && agent_requests == peer_requests &&
                    agent_logs.size() == 6 && agent_logs == peer_logs;
  if (!same) {
    for (const auto* pair : {&agent_requests, &agent_logs}) {
      const auto& other = pair == &agent_requests ? peer_requests : peer_logs;
      for (const auto& [key, text] : *pair) {
        auto found = other.find(key);
        if (found == other.end() || found->second != text)
          std::fprintf(stderr, "== agent, %s:\n%s\n== peer:\n%s\n", key.c_str(), text.c_str(),
                       found == other.end() ? "(none)" : found->second.c_str());
      }
    }
  }
  std::fprintf(stderr, "the peer's requests and transfer logs %s the agent's on six files\n",
               same ? "match" : "DO NOT match");
  return same;
}

void BM_AgentEmptyRun(benchmark::State& state) {
  AgentFolder folder;
  for (auto _ : state) vemtu::test::RunAgent(folder.exe, {kCategory}, 60000);
}

void BM_TrueCommand(benchmark::State& state) {
  char name[] = "true";
  char* argv[] = {name, nullptr};
  for (auto _ : state) {
    pid_t pid = 0;
    if (posix_spawnp(&pid, "true", nullptr, nullptr, argv, environ) != 0) {
      state.SkipWithError("cannot start true");
      break;
    }
    int status = 0;
    waitpid(pid, &status, 0);
  }
}

BENCHMARK(BM_Run_SideBySide)
    ->ArgNames({"where", "new_prefix"})
    ->Args({0, 1})
    ->Args({0, 0})
    ->Args({1, 1})
    ->Args({1, 0})
    ->Args({2, 1})
    ->Args({2, 0})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3)
    ->UseRealTime();
// The same under a wrapper (the Windows build under wine), where a round takes a minute:
// two rounds, folder on disk.
BENCHMARK(BM_Run_SideBySide)
    ->Name("BM_WrappedRun_SideBySide")
    ->ArgNames({"where", "new_prefix"})
    ->Args({2, 1})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(2)
    ->UseRealTime();
BENCHMARK(BM_AgentEmptyRun)->Unit(benchmark::kMillisecond)->Iterations(30)->UseRealTime();
BENCHMARK(BM_TrueCommand)->Unit(benchmark::kMillisecond)->Iterations(30)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
  setenv("VEMTU_BIN", VEMTU_BIN_DIR, 0);
  unsetenv("http_proxy");
  unsetenv("https_proxy");
  curl_global_init(CURL_GLOBAL_DEFAULT);
  // The agent, run as root, raises itself to nice -10: the peer and the curl loop run at
  // the same priority (the peer inherits it from this process).
  if (geteuid() == 0 && setpriority(PRIO_PROCESS, 0, -10) == 0)
    std::fprintf(stderr, "every program runs at nice -10, as the agent does as root\n");
  benchmark::Initialize(&argc, argv);
  if (!PeerMatchesAgent()) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  curl_global_cleanup();
  return 0;
}
