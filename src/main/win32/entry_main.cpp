// Windows entry point: a GUI-subsystem program without a window. WinMain receives the
// command-line text after the program name.
#include <windows.h>

#include <string>

#include "driver/agent.h"
#include "platform/paths.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR command_tail, int) {
  // Before anything can load a library: every later load by name, ours or one made inside
  // a system library, searches the system folder only, not the agent folder or PATH.
  SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
  // A folder the system code page cannot spell exactly has no 8-bit name the agent could
  // work in safely (a best-fit spelling names another folder, perhaps one a user made):
  // the run ends before touching anything, and its exit code is the only sign.
  std::string own_path;
  if (vemtu::platform::ReadExecutablePath(own_path) ==
      vemtu::platform::ExecutablePathState::kNotInCodePage) {
    return vemtu::platform::kExitPathNotInCodePage;
  }
  return vemtu::RunAgent(command_tail ? command_tail : "");
}
