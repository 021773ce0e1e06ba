#pragma once

#include <chrono>
#include <memory>
#include <string>

#include "platform/service_manager.h"

namespace platform {

// The service manager's notify protocol without its library: one datagram a
// notification to the Unix socket named in $NOTIFY_SOCKET (a path, or an
// abstract name written with a leading "@").
class NotifySocket final : public ServiceManager {
 public:
  NotifySocket(std::string address, std::chrono::microseconds watchdogInterval);

  Status Notify(const std::string& state) override;
  std::chrono::microseconds WatchdogInterval() const override { return watchdogInterval_; }

 private:
  std::string address_;
  std::chrono::microseconds watchdogInterval_;
};

// The manager that started this process, from $NOTIFY_SOCKET, $WATCHDOG_USEC
// and $WATCHDOG_PID; nothing when no manager listens. The variables are
// removed, so programs we start (alert commands) do not speak for us.
std::unique_ptr<ServiceManager> ConnectServiceManager();

}  // namespace platform
