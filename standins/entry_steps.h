// The entry points both libraries share step for step (write, read, data available,
// close), written once for any request type with `core` and `timeouts` members.
#pragma once

#include <algorithm>

#include "api_support.h"
#include "request_core.h"

namespace vemtu::inet {

// One library's handle table and numbers.
struct Library {
  HandleTable& handles;
  DWORD wrong_type;  // ..._INCORRECT_HANDLE_TYPE
  const FailureCodes& codes;
};

template <typename Request>
BOOL WriteStep(const Library& library, HINTERNET handle, LPCVOID buffer, DWORD size,
               LPDWORD written) {
  auto request = Lookup<Request>(library.handles, handle, library.wrong_type);
  if (!request) return FALSE;
  if (!written || (!buffer && size > 0)) return Fail(ERROR_INVALID_PARAMETER);
  *written = 0;
  Failure failure =
      request->core.Write(static_cast<const char*>(buffer), size, request->timeouts.send_ms);
  if (failure != Failure::kNone) return Fail(library.codes[failure]);
  *written = size;
  return Succeed();
}

template <typename Request>
BOOL ReadStep(const Library& library, HINTERNET handle, LPVOID buffer, DWORD size, LPDWORD read) {
  auto request = Lookup<Request>(library.handles, handle, library.wrong_type);
  if (!request) return FALSE;
  if (!read || (!buffer && size > 0)) return Fail(ERROR_INVALID_PARAMETER);
  *read = 0;
  std::size_t got = 0;
  Failure failure =
      request->core.Read(static_cast<char*>(buffer), size, &got, request->timeouts.receive_ms);
  if (failure != Failure::kNone) return Fail(library.codes[failure]);
  *read = static_cast<DWORD>(got);
  return Succeed();
}

template <typename Request>
BOOL AvailableStep(const Library& library, HINTERNET handle, LPDWORD available) {
  auto request = Lookup<Request>(library.handles, handle, library.wrong_type);
  if (!request) return FALSE;
  std::size_t count = 0;
  Failure failure = request->core.Available(&count, request->timeouts.receive_ms);
  if (failure != Failure::kNone) return Fail(library.codes[failure]);
  if (available) *available = static_cast<DWORD>(std::min<std::size_t>(count, 0xFFFFFFFF));
  return Succeed();
}

// Closing ends whatever waits on the handle; the object goes when the last call using
// it returns.
inline BOOL CloseStep(const Library& library, HINTERNET handle) {
  std::shared_ptr<HandleObject> object = library.handles.Remove(handle);
  if (!object) return Fail(ERROR_INVALID_HANDLE);
  object->Cancel();
  object.reset();
  return Succeed();
}

}  // namespace vemtu::inet
