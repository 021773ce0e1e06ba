// How late the dispatch's waits wake up on this Windows (or Wine): the
// precise waiter the playing thread sleeps on (its timer, Wine's own sleep
// where it runs under Wine, and the short stretch awake), against plain
// Sleep, with the timer at its default resolution and at 1 ms. Prints p50, p99 and the worst
// lateness of waits on a 5 ms grid, the player's flush window.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "platform/win/win_timing.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kWaits = 1000;
constexpr auto kStep = std::chrono::milliseconds(5);

// The thread's own time on a core, in ms.
double ThreadCpuMs() {
  FILETIME created{}, exited{}, kernel{}, user{};
  ::GetThreadTimes(::GetCurrentThread(), &created, &exited, &kernel, &user);
  const auto ticks = [](FILETIME f) {
    return static_cast<double>((static_cast<std::uint64_t>(f.dwHighDateTime) << 32) |
                               f.dwLowDateTime);
  };
  return (ticks(kernel) + ticks(user)) / 10'000.0;
}

template <typename Wait>
void Measure(const char* what, Wait wait) {
  std::vector<double> late;
  late.reserve(kWaits);
  const auto started = Clock::now();
  const double cpuBefore = ThreadCpuMs();
  auto due = Clock::now() + kStep;
  for (int i = 0; i < kWaits; ++i, due += kStep) {
    wait(due);
    late.push_back(std::chrono::duration<double, std::milli>(Clock::now() - due).count());
    // A wait that overran the next grid point starts again from now.
    if (Clock::now() > due + kStep) due = Clock::now();
  }
  const double cpu = 100.0 * (ThreadCpuMs() - cpuBefore) /
                     std::chrono::duration<double, std::milli>(Clock::now() - started).count();
  std::sort(late.begin(), late.end());
  std::printf("%-56s p50 %6.3f ms  p99 %6.3f ms  max %6.3f ms  cpu %4.1f %%\n", what,
              late[kWaits / 2], late[kWaits * 99 / 100], late.back(), cpu);
}

void Run(const char* resolution) {
  platform::win::PreciseWaiter waiter;
  char title[96];
  std::snprintf(title, sizeof title, "precise waiter (%s%s), %s",
                waiter.HighResolution() ? "high-res timer" : "timer",
                waiter.FineSleep() ? ", host sleep" : "", resolution);
  Measure(title, [&](Clock::time_point due) { waiter.SleepUntil(due); });
  std::snprintf(title, sizeof title, "Sleep, %s", resolution);
  Measure(title, [](Clock::time_point due) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(due - Clock::now());
    if (left.count() > 0) ::Sleep(static_cast<DWORD>(left.count()));
  });
}

}  // namespace

int main() {
  Run("default timer");
  const platform::win::TimerResolution oneMs;
  Run(oneMs.Active() ? "timer at 1 ms" : "timer at 1 ms refused");
  return 0;
}
