// Linux entry point: hands the agent the command-line text a Windows program would see
// after its name for these arguments.
#include <malloc.h>

#include "driver/agent.h"
#include "main/posix/command_tail.h"

namespace {

// Every post builds and frees a few hundred kilobytes of request state. With the C
// library's default of giving the top of the heap back above 128 KB, each post grows the
// heap again and faults its pages in anew (some 20 faults a post). Keeping up to 32 MB
// of freed heap ends that churn; blocks of 128 KB and more are still mapped on their own
// and handed back when freed, so packing a large file does not raise the peak.
void KeepFreedHeap() {
  mallopt(M_MMAP_THRESHOLD, 128 * 1024);
  mallopt(M_TRIM_THRESHOLD, 32 * 1024 * 1024);
  mallopt(M_TOP_PAD, 1024 * 1024);
}

}  // namespace

int main(int argc, char** argv) {
  KeepFreedHeap();
  return vemtu::RunAgent(vemtu::CommandTail(argc, argv).c_str());
}
