// Local time and pauses.
#pragma once

namespace vemtu::platform {

struct LocalTime {
  int year, month, day, hour, minute, second;  // month 1-12, hour 0-23
};

// The current local time; false when it cannot be obtained.
bool GetLocalTime(LocalTime& out);

void SleepMs(unsigned long ms);

}  // namespace vemtu::platform
