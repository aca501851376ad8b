// A writer from outside the agent: appends its second argument to the file named by its
// first. Exit code 0 when appended, else the system's error number for the open or
// write (under Windows, 32 when another handle does not share writing).
#include <string>

#include "platform/errors.h"
#include "platform/files.h"

int main(int argc, char** argv) {
  if (argc != 3) return 2;
  namespace platform = vemtu::platform;
  platform::File file = platform::File::Open(argv[1], platform::OpenMode::kAppendAlways);
  const std::string text = argv[2];
  if (!file.IsOpen() || !file.Write(text.data(), text.size())) {
    int error = platform::LastError();
    return error != 0 ? error : 1;
  }
  return 0;
}
