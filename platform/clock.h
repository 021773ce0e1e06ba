#pragma once

#include <chrono>
#include <cstdint>

namespace platform {

inline constexpr int kSecondsPerDay = 24 * 60 * 60;

// Time of day, to the whole second, the scheduler's short wait, and a
// steady clock for what must keep time while the audio cannot.
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
  // Never goes backwards and does not jump when the time of day is set.
  virtual std::chrono::steady_clock::time_point SteadyNow() {
    return std::chrono::steady_clock::now();
  }
};

}  // namespace platform
