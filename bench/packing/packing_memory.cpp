// Peak memory of packing one large file:
//   bench_packing_memory make PATH MEGABYTES   writes a generated result file
//   bench_packing_memory pack SOURCE PACKED    packs it and prints the peak resident size
#include <sys/resource.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

#include "packing/tree_zipping.h"
#include "result_file.h"

int main(int argc, char** argv) {
  if (argc == 4 && std::strcmp(argv[1], "make") == 0) {
    std::string text = MakeResultFile(std::strtoull(argv[3], nullptr, 10) << 20);
    std::ofstream(argv[2], std::ios::binary) << text;
    return 0;
  }
  if (argc == 4 && std::strcmp(argv[1], "pack") == 0) {
    int result = vemtu::packing::PackXmlFile(argv[2], argv[3]);
    struct rusage usage;
    getrusage(RUSAGE_SELF, &usage);
    std::printf("PackXmlFile=%d peak_rss_kb=%ld\n", result, usage.ru_maxrss);
    return result == 1 ? 0 : 1;
  }
  std::fprintf(stderr, "usage: bench_packing_memory make PATH MB | pack SOURCE PACKED\n");
  return 2;
}
