#include "platform/posix/system_clock.h"

#include <time.h>

#include <chrono>
#include <thread>

namespace platform {

int SystemClock::SecondsOfDay() {
  const time_t now = time(nullptr);
  struct tm local {};
  localtime_r(&now, &local);
  return local.tm_hour * 3600 + local.tm_min * 60 + local.tm_sec;
}

std::int64_t SystemClock::UnixSeconds() {
  return static_cast<std::int64_t>(time(nullptr));
}

void SystemClock::Sleep100ms() {
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
}

}  // namespace platform
