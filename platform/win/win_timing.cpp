#include "platform/win/win_timing.h"

#include <avrt.h>
#include <timeapi.h>

#include <algorithm>
#include <ctime>

#ifndef CREATE_WAITABLE_TIMER_HIGH_RESOLUTION
#define CREATE_WAITABLE_TIMER_HIGH_RESOLUTION 0x00000002
#endif

namespace platform::win {
namespace {

using std::chrono::nanoseconds;
using SteadyClock = std::chrono::steady_clock;

// A late wake moves the estimate a quarter of the way up; an early one,
// a sixty-fourth of the way down.
constexpr int kRiseShare = 4;
constexpr int kFallShare = 64;

// Relative due times are negative, in 100 ns units; rounded up so a wait is
// never shorter than asked.
LARGE_INTEGER RelativeDue(nanoseconds duration) {
  LARGE_INTEGER due{};
  due.QuadPart = -static_cast<LONGLONG>((duration.count() + 99) / 100);
  return due;
}

// Wine's sleep of the thread, which is the host's own and wakes to some tens
// of microseconds; none on Windows, whose sleep keeps to the timer's
// resolution and is no finer than its high-resolution timer.
std::function<void(nanoseconds)> HostSleep() {
  using DelayExecution = LONG(NTAPI*)(BOOLEAN alertable, PLARGE_INTEGER interval);
  const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
  if (ntdll == nullptr || ::GetProcAddress(ntdll, "wine_get_version") == nullptr) return {};
  const auto delay = reinterpret_cast<DelayExecution>(
      reinterpret_cast<void*>(::GetProcAddress(ntdll, "NtDelayExecution")));
  if (delay == nullptr) return {};
  return [delay](nanoseconds duration) {
    LARGE_INTEGER due = RelativeDue(duration);
    delay(FALSE, &due);
  };
}

}  // namespace

WakeLateness::WakeLateness(nanoseconds initial, nanoseconds cap)
    : value_(std::clamp(initial, nanoseconds::zero(), cap)), cap_(cap) {}

void WakeLateness::Add(nanoseconds late) {
  late = std::clamp(late, nanoseconds::zero(), cap_);
  if (late > value_) {
    value_ += (late - value_ + nanoseconds(kRiseShare - 1)) / kRiseShare;
  } else {
    value_ -= (value_ - late) / kFallShare;
  }
}

DeadlineWaiter::DeadlineWaiter(const Tuning& tuning)
    : tuning_(tuning),
      coarse_(tuning.coarseLateness, tuning.coarseLeadLimit),
      fine_(tuning.fineLateness, tuning.spinLimit) {}

nanoseconds DeadlineWaiter::SpinLead() const {
  // Without a fine sleep the coarse wait's own lateness is left to the spin.
  return std::clamp(fine_.Value(), tuning_.spinAtLeast, tuning_.spinLimit);
}

nanoseconds DeadlineWaiter::CoarseLead(bool withFine) const {
  if (!withFine) return std::clamp(coarse_.Value(), tuning_.spinAtLeast, tuning_.spinLimit);
  return std::min(SpinLead() + coarse_.Value(), tuning_.coarseLeadLimit);
}

bool DeadlineWaiter::WaitUntil(SteadyClock::time_point when, const WaitSteps& steps) {
  const bool withFine = static_cast<bool>(steps.fine);
  for (;;) {
    const SteadyClock::time_point start = steps.now();
    const nanoseconds left = when - start;
    if (left <= nanoseconds::zero()) return false;
    const nanoseconds coarseLead = CoarseLead(withFine);
    if (left > coarseLead) {
      const nanoseconds asked = left - coarseLead;
      if (steps.coarse(asked)) return true;
      coarse_.Add(steps.now() - (start + asked));
      continue;
    }
    const nanoseconds spinLead = SpinLead();
    if (withFine && left > spinLead) {
      const nanoseconds asked = left - spinLead;
      steps.fine(asked);
      fine_.Add(steps.now() - (start + asked));
      continue;
    }
    // At most the spin's limit is left here.
    while (steps.now() < when) steps.spin();
    return false;
  }
}

PreciseWaiter::PreciseWaiter() : fine_(HostSleep()) {
  timer_ = UniqueHandle(::CreateWaitableTimerExW(
      nullptr, nullptr, CREATE_WAITABLE_TIMER_HIGH_RESOLUTION, TIMER_ALL_ACCESS));
  highResolution_ = static_cast<bool>(timer_);
  if (!timer_) {
    timer_ = UniqueHandle(::CreateWaitableTimerExW(nullptr, nullptr, 0, TIMER_ALL_ACCESS));
  }
}

bool PreciseWaiter::WaitUntil(SteadyClock::time_point when,
                              const std::function<bool(HANDLE timer)>& waitOnTimer) {
  const WaitSteps steps{
      .now = [] { return SteadyClock::now(); },
      .coarse =
          [&](nanoseconds duration) {
            LARGE_INTEGER due = RelativeDue(duration);
            if (timer_ && ::SetWaitableTimer(timer_.get(), &due, 0, nullptr, nullptr, FALSE)) {
              const bool other = waitOnTimer(timer_.get());
              if (other) ::CancelWaitableTimer(timer_.get());
              return other;
            }
            ::Sleep(static_cast<DWORD>((duration.count() + 999'999) / 1'000'000));
            return false;
          },
      .fine = fine_,
      .spin = [] { YieldProcessor(); },
  };
  return deadline_.WaitUntil(when, steps);
}

void PreciseWaiter::SleepUntil(SteadyClock::time_point when) {
  WaitUntil(when, [](HANDLE timer) {
    ::WaitForSingleObject(timer, INFINITE);
    return false;
  });
}

void PreciseWaiter::SleepFor(nanoseconds duration) {
  if (duration <= nanoseconds::zero()) return;
  SleepUntil(SteadyClock::now() + duration);
}

TimerResolution::TimerResolution() : active_(::timeBeginPeriod(1) == TIMERR_NOERROR) {}

TimerResolution::~TimerResolution() {
  if (active_) ::timeEndPeriod(1);
}

MmcssDispatchPriority::~MmcssDispatchPriority() {
  Restore();
}

bool MmcssDispatchPriority::Raise() {
  if (task_ != nullptr) return true;
  DWORD taskIndex = 0;
  HANDLE task = ::AvSetMmThreadCharacteristicsW(L"Pro Audio", &taskIndex);
  if (task == nullptr) {
    whyNot_ = "the multimedia scheduler refused the thread (" + LastErrorMessage() + ")";
    return false;
  }
  if (!::AvSetMmThreadPriority(task, AVRT_PRIORITY_HIGH)) {
    whyNot_ = "the multimedia scheduler refused high priority (" + LastErrorMessage() + ")";
    ::AvRevertMmThreadCharacteristics(task);
    return false;
  }
  task_ = task;
  timerRaised_ = ::timeBeginPeriod(1) == TIMERR_NOERROR;
  return true;
}

void MmcssDispatchPriority::Restore() {
  if (task_ == nullptr) return;
  ::AvRevertMmThreadCharacteristics(static_cast<HANDLE>(task_));
  task_ = nullptr;
  if (timerRaised_) ::timeEndPeriod(1);
  timerRaised_ = false;
}

int WinSystemClock::SecondsOfDay() {
  SYSTEMTIME local{};
  ::GetLocalTime(&local);
  return local.wHour * 3600 + local.wMinute * 60 + local.wSecond;
}

std::int64_t WinSystemClock::UnixSeconds() {
  return static_cast<std::int64_t>(std::time(nullptr));
}

void WinSystemClock::Sleep100ms() {
  waiter_.SleepFor(std::chrono::milliseconds(100));
}

}  // namespace platform::win
