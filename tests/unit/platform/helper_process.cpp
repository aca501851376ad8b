#include "helper_process.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <random>

#include "platform/clock.h"
#include "platform/named_mutex.h"
#include "platform/paths.h"

namespace vemtu::test {
namespace {

std::filesystem::path ReadyFile(const std::string& token) {
  return std::filesystem::temp_directory_path() / ("vemtu-helper-" + token + ".ready");
}

}  // namespace

std::string NewHelperToken() {
  std::random_device random;
  auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
  return std::to_string(platform::CurrentProcessId()) + "-" + std::to_string(stamp % 1000000007) +
         "-" + std::to_string(random() % 100000);
}

std::string HelperMutexName(const std::string& token) { return "vemtu-platform-test-" + token; }

bool StartMutexHolder(const std::string& token) {
  return platform::SpawnDetached("\"" + platform::ExecutablePath() + "\"", kHelperFlag + token);
}

namespace {
const char kExitingPrefix[] = "exit-";
}  // namespace

bool StartExitingHelper(const std::string& token) {
  return platform::SpawnDetached("\"" + platform::ExecutablePath() + "\"",
                                 kHelperFlag + (kExitingPrefix + token));
}

bool WaitForHolder(const std::string& token, platform::ProcessId& pid, unsigned timeout_ms) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  std::filesystem::path ready = ReadyFile(token);
  while (std::chrono::steady_clock::now() < deadline) {
    std::ifstream in(ready);
    long long value = 0;
    if (in >> value) {
      in.close();
      std::error_code ignored;
      std::filesystem::remove(ready, ignored);
      pid = static_cast<platform::ProcessId>(value);
      return value > 0;
    }
    platform::SleepMs(10);
  }
  return false;
}

int RunHelper(const std::string& argument) {
  bool exiting = argument.compare(0, sizeof kExitingPrefix - 1, kExitingPrefix) == 0;
  std::string token = exiting ? argument.substr(sizeof kExitingPrefix - 1) : argument;
  platform::NamedMutex mutex = platform::NamedMutex::Create(HelperMutexName(token));
  WaitResult result = mutex.Wait(10000);
  bool holds = result == WaitResult::kAcquired || result == WaitResult::kAbandoned;
  std::filesystem::path ready = ReadyFile(token);
  std::filesystem::path partial = ready;
  partial += ".tmp";
  {
    std::ofstream out(partial, std::ios::trunc);
    out << (holds ? static_cast<long long>(platform::CurrentProcessId()) : -1) << "\n";
  }
  std::error_code ignored;
  std::filesystem::rename(partial, ready, ignored);
  // Hold the mutex until killed; a helper that is never killed gives up after a while.
  for (int i = 0; holds && !exiting && i < 300; ++i) platform::SleepMs(100);
  return holds ? 0 : 1;
}

}  // namespace vemtu::test

int main(int argc, char** argv) {
  if (argc == 2) {
    std::string argument = argv[1];
    std::string flag = vemtu::test::kHelperFlag;
    if (argument.compare(0, flag.size(), flag) == 0) {
      return vemtu::test::RunHelper(argument.substr(flag.size()));
    }
  }
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
