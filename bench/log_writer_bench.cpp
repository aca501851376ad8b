// Log lines per second: WriteLogEntry (lock, open in append mode, size check, write,
// close per line) beside a bare open-append-close of the same line, in the same run:
// once through the platform's file (with its link and special-file checks) and once
// through the system calls alone.
#include <fcntl.h>
#include <unistd.h>

#include <benchmark/benchmark.h>

#include <string>

#include "log/log_writer.h"
#include "platform/files.h"
#include "platform/named_mutex.h"
#include "platform/paths.h"
#include "support/test_files.h"

namespace {

const char* kMessage = "MSG: Started Web Posting";

void BM_WriteLogEntry(benchmark::State& state) {
  vemtu::test::TempDir dir;
  const std::string log = dir.path().string() + vemtu::platform::NativePath("\\WebPostStatus.log");
  for (auto _ : state) {
    vemtu::WriteLogEntry(log, vemtu::kEventProgress, 0, kMessage);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_WriteLogEntry);

void BM_BareOpenAppendClose(benchmark::State& state) {
  vemtu::test::TempDir dir;
  const std::string log = dir.path().string() + vemtu::platform::NativePath("\\bare.log");
  const std::string line = vemtu::FormatLogLine(vemtu::FormatLogTimestamp(),
                                                vemtu::kEventProgress, 0, kMessage, "", "", "", "");
  for (auto _ : state) {
    vemtu::platform::File file =
        vemtu::platform::File::Open(log, vemtu::platform::OpenMode::kReadWriteAlways);
    file.SeekToEnd();
    file.Write(line.data(), line.size());
    file.Close();
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_BareOpenAppendClose);

void BM_SystemOpenAppendClose(benchmark::State& state) {
  vemtu::test::TempDir dir;
  const std::string log = dir.path().string() + "/system.log";
  const std::string line = vemtu::FormatLogLine(vemtu::FormatLogTimestamp(),
                                                vemtu::kEventProgress, 0, kMessage, "", "", "", "");
  for (auto _ : state) {
    int fd = open(log.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
    benchmark::DoNotOptimize(write(fd, line.data(), line.size()));
    close(fd);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_SystemOpenAppendClose);

// The share of the lock in a line: create or open, wait, release, close.
void BM_LogLockCycle(benchmark::State& state) {
  vemtu::test::TempDir dir;
  const std::string name = vemtu::LogLockName(dir.path().string() + "/WebPostStatus.log");
  for (auto _ : state) {
    vemtu::platform::NamedMutex lock = vemtu::platform::NamedMutex::Create(name);
    lock.Wait(vemtu::kLogLockWaitMs);
    lock.Release();
    lock.Close();
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_LogLockCycle);

}  // namespace

BENCHMARK_MAIN();
