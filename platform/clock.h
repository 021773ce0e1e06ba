#pragma once

namespace platform {

inline constexpr int kSecondsPerDay = 24 * 60 * 60;

// Time of day, to the whole second, and the scheduler's short wait.
class Clock {
 public:
  virtual ~Clock() = default;
  // Seconds since midnight, local time: 0 .. 86399.
  virtual int SecondsOfDay() = 0;
  // Waits 100 ms.
  virtual void Sleep100ms() = 0;
};

}  // namespace platform
