#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "platform/status.h"
#include "platform/time_source.h"

namespace watch {

inline constexpr std::chrono::seconds kDefaultDeviceWait{120};

// A device the show cannot start without, and how to tell it is there (an
// error says what is missing and where it was looked for).
struct DeviceNeed {
  std::string what;  // "the serial adapter (COM1)"
  std::function<platform::Status()> present;
};

struct DeviceWaitHooks {
  // Waits about a second (a test moves its clock instead).
  std::function<void()> pause;
  // Told what is waited for, what has come, and the end.
  std::function<void(const std::string&)> say;
  // Runs at every step of the wait (the service manager's start-up clock).
  std::function<void()> onStep;
  // Asked after each pause: true ends the wait (Ctrl+C).
  std::function<bool()> cancelled;
};

// Waits until every need is met, up to `limit`. Says once what it waits for
// and why, and again when a device comes. An error after the limit names
// what is still missing; so does one for a cancelled wait.
platform::Status WaitForDevices(const std::vector<DeviceNeed>& needs, std::chrono::seconds limit,
                                platform::TimeSource& time, const DeviceWaitHooks& hooks);

}  // namespace watch
