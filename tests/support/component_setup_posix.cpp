#include "support/component_setup.h"

#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "support/agent_runner.h"
#include "support/test_files.h"

namespace vemtu::test {

namespace {

// The path as a Windows program sees it under wine.
std::string WinePath(const std::string& path) {
  std::string result = "Z:" + path;
  for (char& c : result) {
    if (c == '/') c = '\\';
  }
  return result;
}

std::string WindowsBin() { return EnvOr("VEMTU_WINDOWS_BIN", ""); }

}  // namespace

bool PrepareCipherComponent(const std::string& folder) {
  const std::string key_file = folder + "/cipher.key";
  if (UnderWine()) {
    setenv("VEMTU_CIPHER_KEY", WinePath(key_file).c_str(), 1);
    unsetenv("WINEDLLOVERRIDES");
    // Registering again is harmless: the same values are written.
    return RunProgram({EnvOr("VEMTU_AGENT_WRAPPER", ""), "regsvr32", "/s",
                       WinePath(WindowsBin() + "/xmlcipher.dll")}) == 0;
  }
  setenv("VEMTU_CIPHER_KEY", key_file.c_str(), 1);
  setenv("VEMTU_COMPONENT_REGISTRY", (folder + "/components.ini").c_str(), 1);
  // The command registers the library beside it, the one the build made.
  return RunCipherCommand({"register"}).exit_code == 0;
}

void HideCipherComponent(const std::string& folder) {
  if (UnderWine()) {
    setenv("WINEDLLOVERRIDES", "xmlcipher=", 1);
  } else {
    setenv("VEMTU_COMPONENT_REGISTRY", (folder + "/components.ini").c_str(), 1);
    RunCipherCommand({"unregister"});
  }
}

CommandOutput RunCipherCommand(const std::vector<std::string>& args, const char* input) {
  std::string command = input ? "printf '%s' " + ShellQuote(input) + " | " : std::string();
  command += UnderWine() ? ShellQuote(EnvOr("VEMTU_AGENT_WRAPPER", "")) + " " +
                               ShellQuote(WindowsBin() + "/vemtu-cipher.exe")
                         : ShellQuote(EnvOr("VEMTU_BIN", ".") + "/vemtu-cipher");
  for (const std::string& arg : args) command += " " + ShellQuote(arg);
  command += input ? " 2>/dev/null" : " </dev/null 2>/dev/null";
  CommandOutput result = CaptureCommand(command);
  while (!result.out.empty() && (result.out.back() == '\n' || result.out.back() == '\r')) {
    result.out.pop_back();
  }
  return result;
}

std::string Encipher(const std::string& clear) {
  CommandOutput result = RunCipherCommand({"encrypt", clear});
  return result.exit_code == 0 ? result.out : std::string();
}

}  // namespace vemtu::test
