// Error numbers and texts. errno is the one per-thread "last error" slot: the program's
// own calls leave POSIX numbers in it, the inet stand-in libraries their 12xxx codes,
// which no errno value reaches.
#include "platform/errors.h"

#include <dlfcn.h>
#include <errno.h>
#include <string.h>

#include <cstdio>
#include <cstring>

#include "platform/paths.h"

namespace vemtu::platform {
namespace {

using MessageTextFn = const char* (*)(unsigned long);

// Windows system error numbers that the shared layers and the inet stand-ins report
// themselves. Their numbers are errno values too (87 is EUSERS), but no call of this
// program can fail with those errno meanings, so the Windows meaning is the one to show.
struct WindowsText {
  int code;
  const char* text;
};
constexpr WindowsText kWindowsTexts[] = {
    {6, "The handle is invalid."},
    {8, "Not enough memory resources are available to process this command."},
    {87, "The parameter is incorrect."},
    {122, "The data area passed to a system call is too small."},
    {127, "The specified procedure could not be found."},
    {223, "The file size exceeds the limit allowed and cannot be saved."},
    {4317, "The operation identifier is not valid."},
};

// The system's text for `code`, empty when it has none ("Unknown error N").
std::string SystemText(int code) {
  for (const WindowsText& known : kWindowsTexts) {
    if (known.code == code) return known.text;
  }
  char buffer[256];
  const char* text = strerror_r(code, buffer, sizeof buffer);  // GNU variant
  if (!text) return {};
  char unknown[64];
  std::snprintf(unknown, sizeof unknown, "Unknown error %d", code);
  if (std::strcmp(text, unknown) == 0) return {};
  return text;
}

// The text from the message table of the stand-in library `file`, when the process has
// it loaded (by its plain name or from the executable's folder); never loads it.
std::string LoadedLibraryText(const char* file, int code) {
  std::string beside = ExecutablePath();
  std::size_t cut = beside.rfind('/');
  beside = cut == std::string::npos ? std::string() : beside.substr(0, cut + 1) + file;
  for (const std::string& name : {std::string(file), beside}) {
    if (name.empty()) continue;
    void* handle = dlopen(name.c_str(), RTLD_LAZY | RTLD_NOLOAD);
    if (!handle) continue;
    std::string result;
    auto fn = reinterpret_cast<MessageTextFn>(dlsym(handle, "VemtuInetMessageText"));
    if (fn) {
      const char* text = fn(static_cast<unsigned long>(static_cast<unsigned>(code)));
      if (text) result = text;
    }
    dlclose(handle);  // drops the reference RTLD_NOLOAD took
    return result;
  }
  return {};
}

}  // namespace

int LastError() { return errno; }

void SetLastError(int code) { errno = code; }

std::string ErrorText(int code) {
  int saved = errno;
  std::string text = SystemText(code);
  if (text.empty()) text = LoadedLibraryText("libWinHttp.so", code);
  if (text.empty()) text = LoadedLibraryText("libWinInet.so", code);
  // Message-table texts end with a line break: cut the last LF, then the last CR.
  if (!text.empty() && text.back() == '\n') text.pop_back();
  if (!text.empty() && text.back() == '\r') text.pop_back();
  errno = saved;
  return text;
}

}  // namespace vemtu::platform
