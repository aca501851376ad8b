// Libraries bound at run time by name.
#pragma once

#include <string>

namespace vemtu::platform {

// A loaded library; move-only, unloaded by its destructor.
class Library {
 public:
  Library() = default;
  ~Library();
  Library(Library&& other) noexcept;
  Library& operator=(Library&& other) noexcept;
  Library(const Library&) = delete;
  Library& operator=(const Library&) = delete;

  // Loads `name` ("WinHttp.dll"; on Linux the stand-in library of that name). On Windows
  // a bare name is taken from the system folder only, never from the agent folder; a
  // full path loads that file.
  static Library Load(const std::string& name);
  bool IsLoaded() const;
  // The address of the exported symbol `name`, or nullptr.
  void* Resolve(const char* name) const;
  void Unload();

 private:
  void* handle_ = nullptr;
};

}  // namespace vemtu::platform
