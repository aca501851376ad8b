// Components created by name at run time (Windows: COM objects by ProgID; Linux: shared
// libraries named by our component registry), called with one text in and one text out.
#pragma once

#include <string>

namespace vemtu::platform {

// Prepares the component runtime for the calling thread for as long as it lives
// (Windows: CoInitialize, and CoUninitialize when the initialisation succeeded).
class ComponentRuntime {
 public:
  ComponentRuntime();
  ~ComponentRuntime();
  ComponentRuntime(const ComponentRuntime&) = delete;
  ComponentRuntime& operator=(const ComponentRuntime&) = delete;

  bool IsReady() const { return ready_; }

 private:
  bool ready_ = false;
};

enum class ComponentStatus {
  kCreated,           // the object exists and answers calls
  kNameUnknown,       // nothing is registered under the name
  kCreateFailed,      // the name is known but the object could not be made
  kStartFailed,       // the object was made but would not run
  kInterfaceMissing,  // the object lacks the text interface
};

inline const char* Describe(ComponentStatus status) {
  switch (status) {
    case ComponentStatus::kCreated: return "created";
    case ComponentStatus::kNameUnknown: return "name unknown";
    case ComponentStatus::kCreateFailed: return "creation failed";
    case ComponentStatus::kStartFailed: return "start failed";
    case ComponentStatus::kInterfaceMissing: return "interface missing";
  }
  return "?";
}

// What a call of a component's text method came to.
enum class TextCallOutcome {
  kAnswered,            // the answer is in the caller's text
  kFailed,              // no object, or it reported a failure
  kAnswerNotInCodePage, // the answer holds a character the system code page cannot spell
                        // exactly; any spelling of it would be another text
};

// One created component object; move-only, released by its destructor. The object's
// text interface has two own methods, numbered 1 and 2 (on Windows they follow the
// dispatch methods of its automation interface).
class ComponentObject {
 public:
  ComponentObject() = default;
  ~ComponentObject() { Release(); }
  ComponentObject(ComponentObject&& other) noexcept { TakeFrom(other); }
  ComponentObject& operator=(ComponentObject&& other) noexcept {
    if (this != &other) {
      Release();
      TakeFrom(other);
    }
    return *this;
  }
  ComponentObject(const ComponentObject&) = delete;
  ComponentObject& operator=(const ComponentObject&) = delete;

  // Creates the object registered under `name` (a ProgID such as "XMLCipher.clsCipher",
  // or a class id in braces). `status` says why no object came about.
  static ComponentObject Create(const std::string& name, ComponentStatus& status);

  bool IsCreated() const { return object_ != nullptr; }

  // Calls own method `method` (1 or 2) with `in`, a text in the system code page, which
  // goes to the object as UTF-16; the UTF-16 answer comes back into `out` in the system
  // code page, never through a best-fit look-alike. Unless answered, `out` is left as it
  // was.
  TextCallOutcome CallTextMethod(int method, const std::string& in, std::string& out);

  void Release();

 private:
  void TakeFrom(ComponentObject& other) {
    object_ = other.object_;
    binding_ = other.binding_;
    other.object_ = nullptr;
    other.binding_ = nullptr;
  }

  void* object_ = nullptr;   // Windows: the automation interface; Linux: the instance
  void* binding_ = nullptr;  // Linux: the loaded library and its entries; Windows: unused
};

}  // namespace vemtu::platform
