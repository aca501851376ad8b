// Windows entry point: a GUI-subsystem program without a window. WinMain receives the
// command-line text after the program name.
#include <windows.h>

#include "driver/agent.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR command_tail, int) {
  return vemtu::RunAgent(command_tail ? command_tail : "");
}
