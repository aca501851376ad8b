// Windows entry point: a GUI-subsystem program without a window. WinMain receives the
// command-line text after the program name.
#include <windows.h>

#include "driver/agent.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR command_tail, int) {
  // Before anything can load a library: every later load by name, ours or one made inside
  // a system library, searches the system folder only, not the agent folder or PATH.
  SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
  return vemtu::RunAgent(command_tail ? command_tail : "");
}
