// Platform costs paid per log line and per configuration key, each beside its floor in
// the same run: a named-mutex cycle (create, wait, release, close) beside opening and
// closing a file, and a profile key read beside reading the same file whole.
#include <benchmark/benchmark.h>

#include <string>

#include "platform/files.h"
#include "platform/named_mutex.h"
#include "platform/profile.h"
#include "support/test_files.h"

namespace {

using namespace vemtu::platform;

const char kLockName[] = "/tmp/bench/ApplicationLog/WebPost/WebPostExe/WebPostStatus.log";

void BM_NamedMutexCycle(benchmark::State& state) {
  for (auto _ : state) {
    NamedMutex mutex = NamedMutex::Create(kLockName);
    mutex.Wait(300000);
    mutex.Release();
    mutex.Close();
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_NamedMutexCycle);

// The same with a name never used before each time, as for the first entry of each new
// transfer log: the lock's shared part is made and, once no handle is left, removed.
void BM_NamedMutexCycleNewName(benchmark::State& state) {
  std::size_t round = 0;
  for (auto _ : state) {
    NamedMutex mutex = NamedMutex::Create(std::string(kLockName) + std::to_string(round++));
    mutex.Wait(300000);
    mutex.Release();
    mutex.Close();
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_NamedMutexCycleNewName);

void BM_FileOpenClose(benchmark::State& state) {
  vemtu::test::TempDir dir;
  std::string path = dir / "lock";
  for (auto _ : state) {
    File file = File::Open(path, OpenMode::kReadWriteAlways);
    file.Close();
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_FileOpenClose);

std::string AgentIni() {
  std::string text = "[Registration]\r\n";
  for (int i = 0; i < 40; ++i) {
    text += "Key" + std::to_string(i) + " = \"value number " + std::to_string(i) + "\"\r\n";
  }
  text += "[Proxy]\r\nProxyAddress=10.0.0.1\r\nProxyPort=8080\r\n";
  return text;
}

void BM_ProfileKeyRead(benchmark::State& state) {
  vemtu::test::TempDir dir;
  std::string path = dir / "agent.ini";
  vemtu::test::WriteFileBytes(path, AgentIni());
  for (auto _ : state) {
    benchmark::DoNotOptimize(GetProfileText(path, "proxy", "proxyport", "", 359));
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ProfileKeyRead);

void BM_WholeFileRead(benchmark::State& state) {
  vemtu::test::TempDir dir;
  std::string path = dir / "agent.ini";
  vemtu::test::WriteFileBytes(path, AgentIni());
  char buffer[8192];
  for (auto _ : state) {
    File file = File::Open(path, OpenMode::kReadExisting);
    benchmark::DoNotOptimize(file.Read(buffer, sizeof buffer));
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_WholeFileRead);

}  // namespace

BENCHMARK_MAIN();
