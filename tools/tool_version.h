// `--version` for every tool: its name and the version it was built as.
#pragma once

#include <cstdio>
#include <cstring>

namespace vemtu::tools {

// True for a command line of exactly `--version`.
inline bool AsksVersion(int argc, char** argv) {
  return argc == 2 && std::strcmp(argv[1], "--version") == 0;
}

inline int PrintVersion(const char* tool) {
  std::printf("%s %s\n", tool, VEMTU_VERSION);
  return 0;
}

}  // namespace vemtu::tools
