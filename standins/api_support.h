// Small pieces both libraries' entry points use: failing with a code in the calling
// thread's last-error slot (errno), handle look-up, message tables.
#pragma once

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "failure.h"
#include "handle_table.h"
#include "windows_types.h"

namespace vemtu::inet {

inline BOOL Fail(DWORD code) {
  errno = static_cast<int>(code);
  return FALSE;
}

inline std::nullptr_t FailNull(DWORD code) {
  errno = static_cast<int>(code);
  return nullptr;
}

// Runs an entry point's body; an exception (an allocation that failed) becomes a
// failure with ERROR_NOT_ENOUGH_MEMORY instead of crossing the C interface.
template <typename Result, typename Body>
Result Guarded(Result failed, Body body) noexcept {
  try {
    return body();
  } catch (...) {
    errno = ERROR_NOT_ENOUGH_MEMORY;
    return failed;
  }
}

inline BOOL Succeed() {
  errno = 0;
  return TRUE;
}

// The object behind `handle` as a `T`; on failure sets ERROR_INVALID_HANDLE (unknown
// handle) or `wrong_type` (a handle of another kind) and returns nullptr.
template <typename T>
std::shared_ptr<T> Lookup(HandleTable& table, void* handle, DWORD wrong_type) {
  bool known = false;
  std::shared_ptr<T> object = table.Find<T>(handle, &known);
  if (!object) errno = static_cast<int>(known ? wrong_type : ERROR_INVALID_HANDLE);
  return object;
}

// One library's numbers for the failures of an exchange, in the order of Failure.
struct FailureCodes {
  DWORD codes[static_cast<int>(Failure::kInternal) + 1];
  DWORD operator[](Failure failure) const { return codes[static_cast<int>(failure)]; }
};

struct MessageRow {
  unsigned long code;
  const char* text;
};

template <std::size_t N>
const char* FindMessage(const MessageRow (&rows)[N], unsigned long code) {
  for (const MessageRow& row : rows) {
    if (row.code == code) return row.text;
  }
  return nullptr;
}

// A DWORD option value from a caller's buffer; false when the buffer is too small.
inline bool ReadDword(const void* buffer, DWORD length, DWORD* value) {
  if (!buffer || length < sizeof(DWORD)) return false;
  *value = *static_cast<const DWORD*>(buffer);
  return true;
}

// A DWORD answer of a query function: `length` says 4 on success and when the buffer
// is too small.
inline BOOL AnswerNumber(DWORD value, LPVOID buffer, LPDWORD length) {
  if (!buffer || *length < sizeof(DWORD)) {
    *length = sizeof(DWORD);
    return Fail(ERROR_INSUFFICIENT_BUFFER);
  }
  *static_cast<DWORD*>(buffer) = value;
  *length = sizeof(DWORD);
  return Succeed();
}

}  // namespace vemtu::inet
