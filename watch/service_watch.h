#pragma once

#include <chrono>
#include <string>

#include "platform/service_manager.h"
#include "platform/time_source.h"

namespace watch {

// What the service manager hears from the show: ready once it has started,
// the status text when it changes, a watchdog ping from the show's own loop,
// and the stop. Alive() may be called on every pass of a busy loop: it sends
// only when a quarter of the watchdog interval has gone by, so a loop that
// comes round at least that often pings four times per interval and a loop
// that hangs stops pinging. Without a manager everything is a no-op.
class ServiceWatch {
 public:
  ServiceWatch(platform::ServiceManager* manager, platform::TimeSource& time);

  void Ready();
  void Status(const std::string& text);
  void Alive();
  // While the show waits before it is ready (devices): keeps the manager's
  // start-up time limit from running out, by `extra` from now.
  void StillStarting(std::chrono::microseconds extra);
  void Stopping();

  // Why the last notification could not be sent, once; empty otherwise.
  std::string TakeFailure();

 private:
  void Send(const std::string& state);

  platform::ServiceManager* manager_;
  platform::TimeSource& time_;
  std::chrono::steady_clock::duration pingEvery_{};
  std::chrono::steady_clock::time_point lastPing_{};
  bool pinged_ = false;
  bool ready_ = false;
  bool stopping_ = false;
  bool statusSent_ = false;
  std::string status_;
  bool failed_ = false;
  std::string failure_;
};

}  // namespace watch
