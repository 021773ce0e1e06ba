#pragma once

#include <chrono>
#include <functional>

#include "platform/clock.h"

namespace fakes {

// A clock the test sets. Time is kept in milliseconds so the 100 ms waits add
// up; it is not bound to one day (SecondsOfDay wraps at midnight).
class FakeClock : public platform::Clock {
 public:
  explicit FakeClock(long long startMs = 0) : ms(startMs) {}

  int SecondsOfDay() override {
    return static_cast<int>(((ms + wallOffsetMs) / 1000) % platform::kSecondsPerDay);
  }
  std::int64_t UnixSeconds() override { return (ms + wallOffsetMs) / 1000; }
  void Sleep100ms() override {
    ++sleeps;
    ms += 100;
    if (onSleep) onSleep(sleeps);
  }

  // The same milliseconds, as a steady clock.
  std::chrono::steady_clock::time_point SteadyNow() override {
    return std::chrono::steady_clock::time_point(std::chrono::milliseconds(ms));
  }

  void SetTimeOfDay(int hours, int minutes, int seconds) {
    const long long day = ms / (1000LL * platform::kSecondsPerDay);
    ms = day * 1000LL * platform::kSecondsPerDay + (hours * 3600LL + minutes * 60 + seconds) * 1000;
  }
  void Advance(long long deltaMs) { ms += deltaMs; }

  long long ms;
  // Moves the time of day only, as a daylight-saving change or a user
  // setting the clock does.
  long long wallOffsetMs = 0;
  int sleeps = 0;
  std::function<void(int)> onSleep;
};

}  // namespace fakes
