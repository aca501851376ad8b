// Local time and pauses through kernel32.
#include "platform/clock.h"

#include <windows.h>

namespace vemtu::platform {

bool GetLocalTime(LocalTime& out) {
  SYSTEMTIME now{};
  ::GetLocalTime(&now);
  out.year = now.wYear;
  out.month = now.wMonth;
  out.day = now.wDay;
  out.hour = now.wHour;
  out.minute = now.wMinute;
  out.second = now.wSecond;
  return true;
}

void SleepMs(unsigned long ms) { Sleep(ms); }

}  // namespace vemtu::platform
