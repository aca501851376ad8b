// vemtu-pack SOURCE PACKED         packs SOURCE as the agent packs a result file
// vemtu-pack --text SOURCE PACKED  hands SOURCE's bytes to the in-memory packing instead
// Exit code 0 when packing succeeded; 1, with no PACKED left behind, otherwise.
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>

#include "packing/tree_zipping.h"

namespace {

int Usage() {
  std::fprintf(stderr, "usage: vemtu-pack [--text] SOURCE PACKED\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  bool text = argc == 4 && std::strcmp(argv[1], "--text") == 0;
  if (argc != (text ? 4 : 3)) return Usage();
  const std::string source = argv[text ? 2 : 1];
  const std::string packed = argv[text ? 3 : 2];
  std::error_code ec;
  const bool existed = std::filesystem::exists(packed, ec);

  int result;
  if (text) {
    std::ifstream in(source, std::ios::binary);
    if (!in) {
      std::fprintf(stderr, "vemtu-pack: cannot read %s\n", source.c_str());
      return 1;
    }
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    result = vemtu::packing::PackXmlString(bytes, packed);
  } else {
    result = vemtu::packing::PackXmlFile(source, packed);
  }
  if (result == 1) return 0;
  if (!existed) std::filesystem::remove(packed, ec);  // a partly written file
  std::fprintf(stderr, "vemtu-pack: packing %s failed\n", source.c_str());
  return 1;
}
