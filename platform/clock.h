#pragma once

#include <cstdint>

namespace platform {

inline constexpr int kSecondsPerDay = 24 * 60 * 60;

// Time of day, to the whole second, and the scheduler's short wait.
class Clock {
 public:
  virtual ~Clock() = default;
  // Seconds since midnight, local time: 0 .. 86399.
  virtual int SecondsOfDay() = 0;
  // Seconds since the epoch, for schedules that carry dates. A clock that
  // knows only the time of day stays on 1 January 1970.
  virtual std::int64_t UnixSeconds() { return SecondsOfDay(); }
  // Waits 100 ms.
  virtual void Sleep100ms() = 0;
};

}  // namespace platform
