#pragma once

#include <chrono>
#include <string>

#include "platform/clock.h"
#include "platform/dispatch_priority.h"
#include "platform/win/wide_text.h"
#include "platform/win/win_handle.h"

namespace platform::win {

// Waits to a point on the steady clock with a waitable timer. Where the
// system has high-resolution timers (Windows 10 1803 on) the wait ends
// within a fraction of a millisecond; elsewhere it falls back to an ordinary
// waitable timer, whose resolution TimerResolution sets. One object per
// thread: the timer is not shared.
class PreciseWaiter {
 public:
  PreciseWaiter();
  void SleepFor(std::chrono::nanoseconds duration);
  void SleepUntil(std::chrono::steady_clock::time_point when);
  bool HighResolution() const { return highResolution_; }

 private:
  UniqueHandle timer_;
  bool highResolution_ = false;
};

// The system timer at 1 ms for as long as the object lives (Windows runs it
// at 15.6 ms otherwise, and every Sleep and timer rounds up to that).
class TimerResolution {
 public:
  TimerResolution();
  ~TimerResolution();
  TimerResolution(const TimerResolution&) = delete;
  TimerResolution& operator=(const TimerResolution&) = delete;
  bool Active() const { return active_; }

 private:
  bool active_ = false;
};

// The playing thread in the multimedia class scheduler's "Pro Audio" task at
// high priority, with the timer at 1 ms, where Linux uses SCHED_FIFO. MMCSS
// lowers a thread that takes more than its share again, so a thread raised
// this way cannot starve the machine.
class MmcssDispatchPriority final : public DispatchPriority {
 public:
  ~MmcssDispatchPriority() override;
  bool Raise() override;
  void Restore() override;
  std::string WhyNotRaised() const override { return whyNot_; }

 private:
  void* task_ = nullptr;  // the MMCSS handle
  bool timerRaised_ = false;
  std::string whyNot_;
};

// Local time of day from the system's zone, the epoch clock, and a 100 ms
// wait that does not round up to the timer's 15.6 ms steps.
class WinSystemClock final : public Clock {
 public:
  int SecondsOfDay() override;
  std::int64_t UnixSeconds() override;
  void Sleep100ms() override;

 private:
  PreciseWaiter waiter_;
};

}  // namespace platform::win
