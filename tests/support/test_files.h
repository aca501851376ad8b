// Temporary folders and whole-file helpers for tests.
#pragma once

#include <filesystem>
#include <string>

namespace vemtu::test {

// A fresh folder under the system's temporary folder, removed with everything in it
// when the object goes away.
class TempDir {
 public:
  TempDir();
  // A fresh folder under `base` (the system's temporary folder for the one above).
  explicit TempDir(const std::filesystem::path& base);
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& path() const { return path_; }
  // path() / relative, as a string.
  std::string operator/(const std::string& relative) const;

 private:
  std::filesystem::path path_;
};

std::string ReadFileBytes(const std::filesystem::path& path);
// Writes `bytes`, creating missing parent folders.
void WriteFileBytes(const std::filesystem::path& path, const std::string& bytes);
bool FileExists(const std::filesystem::path& path);

// The environment variable `name`, or `fallback` when unset.
std::string EnvOr(const char* name, const std::string& fallback);

}  // namespace vemtu::test
