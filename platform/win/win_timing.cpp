#include "platform/win/win_timing.h"

#include <avrt.h>
#include <timeapi.h>

#include <ctime>

#ifndef CREATE_WAITABLE_TIMER_HIGH_RESOLUTION
#define CREATE_WAITABLE_TIMER_HIGH_RESOLUTION 0x00000002
#endif

namespace platform::win {

PreciseWaiter::PreciseWaiter() {
  timer_ = UniqueHandle(::CreateWaitableTimerExW(
      nullptr, nullptr, CREATE_WAITABLE_TIMER_HIGH_RESOLUTION, TIMER_ALL_ACCESS));
  highResolution_ = static_cast<bool>(timer_);
  if (!timer_) {
    timer_ = UniqueHandle(::CreateWaitableTimerExW(nullptr, nullptr, 0, TIMER_ALL_ACCESS));
  }
}

void PreciseWaiter::SleepFor(std::chrono::nanoseconds duration) {
  if (duration <= std::chrono::nanoseconds::zero()) return;
  // Relative due times are negative, in 100 ns units.
  LARGE_INTEGER due{};
  due.QuadPart = -static_cast<LONGLONG>((duration.count() + 99) / 100);
  if (timer_ && ::SetWaitableTimer(timer_.get(), &due, 0, nullptr, nullptr, FALSE)) {
    ::WaitForSingleObject(timer_.get(), INFINITE);
    return;
  }
  ::Sleep(static_cast<DWORD>((duration.count() + 999'999) / 1'000'000));
}

void PreciseWaiter::SleepUntil(std::chrono::steady_clock::time_point when) {
  SleepFor(when - std::chrono::steady_clock::now());
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
