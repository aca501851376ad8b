// Bodies and small helpers shared by the stand-in tests.
#pragma once

#include <cstdlib>
#include <string>

namespace vemtu::test {

// `size` bytes that differ from position to position (every byte value occurs).
inline std::string PatternBody(std::size_t size) {
  std::string body(size, '\0');
  for (std::size_t i = 0; i < size; ++i) body[i] = static_cast<char>((i * 7 + i / 251) & 0xFF);
  return body;
}

// Sets an environment variable for one scope.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const std::string& value) : name_(name) {
    setenv(name, value.c_str(), 1);
  }
  ~ScopedEnv() { unsetenv(name_); }

 private:
  const char* name_;
};

}  // namespace vemtu::test
