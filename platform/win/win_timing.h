#pragma once

#include <chrono>
#include <functional>
#include <string>

#include "platform/clock.h"
#include "platform/dispatch_priority.h"
#include "platform/win/wide_text.h"
#include "platform/win/win_handle.h"

namespace platform::win {

// How late one kind of wait wakes, learned from its recent wake-ups. The
// estimate rises a good part of the way towards a late wake and falls back
// slowly, so it sits near the top of what the wait usually does; one stall
// (a busy machine, a page fault) moves it only partly, and `cap` bounds it.
class WakeLateness {
 public:
  WakeLateness(std::chrono::nanoseconds initial, std::chrono::nanoseconds cap);
  void Add(std::chrono::nanoseconds late);
  std::chrono::nanoseconds Value() const { return value_; }

 private:
  std::chrono::nanoseconds value_;
  std::chrono::nanoseconds cap_;
};

// What a wait to a moment is made of, from the coarsest to the finest.
struct WaitSteps {
  std::function<std::chrono::steady_clock::time_point()> now;
  // Waits about this long, or less when something else (a console event, a
  // window message) comes first: then true.
  std::function<bool(std::chrono::nanoseconds)> coarse;
  // A short sleep that nothing ends early but that wakes closer to its time
  // than the coarse wait does; empty where the coarse wait is as close.
  std::function<void(std::chrono::nanoseconds)> fine;
  // One pause of the last stretch, which the thread spends awake.
  std::function<void()> spin;
};

// Waits to a moment in up to three stretches: the coarse wait until the
// time it usually wakes late by (plus the finer steps' own lateness) is
// left, the fine sleep until its own lateness is left, then awake to the
// moment. Each kind's lateness is learned from its wakes, so the waiter fits
// the system it runs on. The awake stretch never exceeds `spinLimit`, so a
// long show costs little more than its waits; a finer wake than the system's
// is not bought with a busy core.
class DeadlineWaiter {
 public:
  struct Tuning {
    std::chrono::nanoseconds coarseLateness{std::chrono::microseconds(1000)};
    std::chrono::nanoseconds fineLateness{std::chrono::microseconds(100)};
    // The longest stretch spent awake, and the least.
    std::chrono::nanoseconds spinLimit{std::chrono::microseconds(300)};
    std::chrono::nanoseconds spinAtLeast{std::chrono::microseconds(20)};
    // The longest stretch given to the finer steps, which nothing ends early.
    std::chrono::nanoseconds coarseLeadLimit{std::chrono::microseconds(3000)};
  };

  DeadlineWaiter() : DeadlineWaiter(Tuning{}) {}
  explicit DeadlineWaiter(const Tuning& tuning);

  // Returns true when the coarse wait was ended by something else, at once.
  bool WaitUntil(std::chrono::steady_clock::time_point when, const WaitSteps& steps);

  // How far ahead of the moment each step ends now.
  std::chrono::nanoseconds SpinLead() const;
  std::chrono::nanoseconds CoarseLead(bool withFine) const;

 private:
  Tuning tuning_;
  WakeLateness coarse_;
  WakeLateness fine_;
};

// Waits to a point on the steady clock with a waitable timer, ended close to
// the point by a precise short sleep where the system has one and a short
// stretch awake. Where the system has high-resolution timers (Windows 10
// 1803 on) the timer wakes within a fraction of a millisecond; elsewhere it
// falls back to an ordinary waitable timer, whose resolution TimerResolution
// sets. Under Wine every timer and handle wait goes through the Wine server,
// which wakes in whole milliseconds and often most of one late, while a
// plain sleep of the thread is the host's own, to some tens of
// microseconds: there that sleep ends the wait. One object per thread: the
// timer is not shared.
class PreciseWaiter {
 public:
  PreciseWaiter();
  void SleepFor(std::chrono::nanoseconds duration);
  void SleepUntil(std::chrono::steady_clock::time_point when);
  // Waits until `when` or until `waitOnTimer`, given the armed timer to wait
  // on together with whatever else may end the wait, says something else
  // came first (then true, at once).
  bool WaitUntil(std::chrono::steady_clock::time_point when,
                 const std::function<bool(HANDLE timer)>& waitOnTimer);
  bool HighResolution() const { return highResolution_; }
  // Whether the precise short sleep ends the waits (Wine).
  bool FineSleep() const { return static_cast<bool>(fine_); }

 private:
  UniqueHandle timer_;
  bool highResolution_ = false;
  std::function<void(std::chrono::nanoseconds)> fine_;
  DeadlineWaiter deadline_;
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
