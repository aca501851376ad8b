// Peak memory of packing one large file:
//   bench_packing_memory make PATH MEGABYTES [SHAPE]  writes a generated file: a result
//       file (SHAPE "result", the default), small nested elements ("nested": <e><f>x</f></e>
//       repeated) or one deep nesting of bare elements ("deep")
//   bench_packing_memory pack SOURCE PACKED  packs it and prints the peak resident size
//       and its ratio to the size of SOURCE
#include <sys/resource.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

#include "packing/tree_zipping.h"
#include "result_file.h"

int main(int argc, char** argv) {
  if ((argc == 4 || argc == 5) && std::strcmp(argv[1], "make") == 0) {
    const std::size_t bytes = std::strtoull(argv[3], nullptr, 10) << 20;
    const std::string shape = argc == 5 ? argv[4] : "result";
    std::string text;
    if (shape == "nested") {
      text = "<r>";
      while (text.size() < bytes) text += "<e><f>x</f></e>";
      text += "</r>";
    } else if (shape == "deep") {
      for (std::size_t i = 0; i < bytes / 3; ++i) text += "<a>";
    } else {
      text = MakeResultFile(bytes);
    }
    std::ofstream(argv[2], std::ios::binary) << text;
    return 0;
  }
  if (argc == 4 && std::strcmp(argv[1], "pack") == 0) {
    int result = vemtu::packing::PackXmlFile(argv[2], argv[3]);
    struct rusage usage;
    getrusage(RUSAGE_SELF, &usage);
    std::ifstream source(argv[2], std::ios::binary | std::ios::ate);
    const double size_kb = static_cast<double>(source.tellg()) / 1024;
    // The peak stays the last field: scripts/bench.sh reads it from there.
    std::printf("PackXmlFile=%d ratio_to_file=%.1f peak_rss_kb=%ld\n", result,
                size_kb > 0 ? usage.ru_maxrss / size_kb : 0.0, usage.ru_maxrss);
    return result == 1 ? 0 : 1;
  }
  std::fprintf(stderr, "usage: bench_packing_memory make PATH MB | pack SOURCE PACKED\n");
  return 2;
}
