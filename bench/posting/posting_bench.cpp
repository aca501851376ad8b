// The agent as a whole process: a run posting 1,000 files of 2 KB (half of them packed)
// to the simulator on loopback, in turn with a plain libcurl loop posting the same file
// bodies (each file with a prefix of its own, or all with one); and a run with nothing
// to post beside starting `true`.
#include <benchmark/benchmark.h>
#include <curl/curl.h>
#include <spawn.h>
#include <sys/vfs.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <memory>
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
  std::string Url(const std::string& prefix) const {
    return "http://127.0.0.1:" + std::to_string(process.http_port) + "/dc/tfr_" + prefix +
           ".asp?mmid=M1&sid=S1&rid=R1&rty=T1";
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
  void Fill(bool new_prefix) const {
    for (int i = 0; i < kFiles; ++i)
      WriteFileBytes(dir / ("agent/" + std::string(kCategory) + "/" + FileName(i, new_prefix)),
                     FileBody(i));
  }
  // True when no file is left in the category folder (its Error folder aside).
  bool Empty() const {
    for (const auto& entry : fs::directory_iterator(dir / ("agent/" + std::string(kCategory))))
      if (entry.is_regular_file()) return false;
    return true;
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

// Rounds of the agent's run and the curl loop in turn (each goes first every other
// round), so that both meet the same load; range(0) 1 puts the agent folder in memory,
// 0 on a real disk (DiskFolder); range(1) 1 gives each file a prefix of its own,
// 0 one prefix to all. The counters give files per second of each and the agent's rate
// as a share of curl's.
void BM_Run_SideBySide(benchmark::State& state) {
  AgentFolder folder(state.range(0) ? MemoryFolder() : DiskFolder());
  const bool new_prefix = state.range(1) != 0;
  CurlLoop curl(new_prefix);
  using Clock = std::chrono::steady_clock;
  Clock::duration agent_time{}, curl_time{};
  bool agent_first = true;
  for (auto _ : state) {
    for (int turn = 0; turn < 2; ++turn) {
      if ((turn == 0) == agent_first) {
        folder.Fill(new_prefix);
        auto start = Clock::now();
        vemtu::test::RunResult result = vemtu::test::RunAgent(folder.exe, {kCategory}, 600000);
        agent_time += Clock::now() - start;
        if (result.timed_out || !folder.Empty()) {
          std::fprintf(stderr, "%s\n",
                       vemtu::test::ReadFileBytes(
                           folder.dir / ("agent/ApplicationLog/WebPost/WebPostExe/WebPost" +
                                         std::string(kCategory) + ".log"))
                           .c_str());
          state.SkipWithError("the run left files behind");
          return;
        }
      } else {
        auto start = Clock::now();
        bool posted = curl.PostAll();
        curl_time += Clock::now() - start;
        if (!posted) {
          state.SkipWithError("post failed");
          return;
        }
      }
    }
    agent_first = !agent_first;
  }
  auto rate = [&](Clock::duration spent) {
    return static_cast<double>(kFiles) * static_cast<double>(state.iterations()) /
           std::chrono::duration<double>(spent).count();
  };
  state.counters["agent_files_per_s"] = rate(agent_time);
  state.counters["curl_files_per_s"] = rate(curl_time);
  state.counters["agent_vs_curl"] = rate(agent_time) / rate(curl_time);
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
    ->ArgNames({"in_memory", "new_prefix"})
    ->Args({1, 1})
    ->Args({0, 1})
    ->Args({1, 0})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(7)
    ->UseRealTime();
// The same under a wrapper (the Windows build under wine), where a round takes a minute:
// two rounds, folder on disk.
BENCHMARK(BM_Run_SideBySide)
    ->Name("BM_WrappedRun_SideBySide")
    ->ArgNames({"in_memory", "new_prefix"})
    ->Args({0, 1})
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
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  curl_global_cleanup();
  return 0;
}
