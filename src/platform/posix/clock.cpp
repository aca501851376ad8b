// Local time and pauses.
#include "platform/clock.h"

#include <time.h>

#include <chrono>
#include <thread>

namespace vemtu::platform {

bool GetLocalTime(LocalTime& out) {
  time_t now = time(nullptr);
  struct tm parts;
  if (now == static_cast<time_t>(-1) || !localtime_r(&now, &parts)) return false;
  out.year = parts.tm_year + 1900;
  out.month = parts.tm_mon + 1;
  out.day = parts.tm_mday;
  out.hour = parts.tm_hour;
  out.minute = parts.tm_min;
  out.second = parts.tm_sec > 59 ? 59 : parts.tm_sec;  // a leap second reads as :59
  return true;
}

void SleepMs(unsigned long ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

}  // namespace vemtu::platform
