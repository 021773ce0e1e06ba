#pragma once

#include <chrono>
#include <memory>
#include <string>

#include "platform/status.h"

namespace platform {

// The channel to the service manager that started us (systemd's notify
// socket): readiness, a status line, keep-alive pings and the stop. Sending
// is fire and forget; a manager that is gone must not stop the show.
class ServiceManager {
 public:
  virtual ~ServiceManager() = default;
  // One notification such as "READY=1" or "STATUS=Show Running...".
  virtual Status Notify(const std::string& state) = 0;
  // How often the manager expects "WATCHDOG=1"; zero when it does not watch.
  virtual std::chrono::microseconds WatchdogInterval() const = 0;
};

// The manager that started this program (systemd's notify socket, or on
// Windows the Task Scheduler's task); nothing when none did.
std::unique_ptr<ServiceManager> ConnectServiceManager();

}  // namespace platform
