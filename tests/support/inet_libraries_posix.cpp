#include "support/inet_libraries.h"

#include <filesystem>

namespace vemtu::test {

namespace fs = std::filesystem;

void RemoveWinHttp(const std::string& folder) {
  std::error_code ignored;
  for (const char* name : {"libWinHttp.so", "libWinHttp5.so", "libWinHttpNoCheck.so"}) {
    fs::remove(fs::path(folder) / name, ignored);
  }
}

bool ProvideOnlyWinHttp5(const std::string& folder, const std::string& bin) {
  RemoveWinHttp(folder);
  std::error_code error;
  fs::copy_file(fs::path(bin) / "libWinHttpNoCheck.so", fs::path(folder) / "libWinHttp5.so",
                fs::copy_options::overwrite_existing, error);
  return !error;
}

}  // namespace vemtu::test
