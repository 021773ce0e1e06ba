#include "watch/service_watch.h"

#include <utility>

namespace watch {

ServiceWatch::ServiceWatch(platform::ServiceManager* manager, platform::TimeSource& time)
    : manager_(manager), time_(time) {
  if (manager_) pingEvery_ = manager_->WatchdogInterval() / 4;
}

void ServiceWatch::Ready() {
  if (ready_) return;
  ready_ = true;
  Send("READY=1");
}

void ServiceWatch::Status(const std::string& text) {
  if (statusSent_ && text == status_) return;
  statusSent_ = true;
  status_ = text;
  // One line per notification: a line break would start another assignment.
  std::string line = text;
  for (char& c : line) {
    if (c == '\n' || c == '\r') c = ' ';
  }
  Send("STATUS=" + line);
}

void ServiceWatch::Alive() {
  if (!manager_ || pingEvery_ <= std::chrono::steady_clock::duration::zero() || stopping_) return;
  const auto now = time_.Steady();
  if (pinged_ && now - lastPing_ < pingEvery_) return;
  pinged_ = true;
  lastPing_ = now;
  Send("WATCHDOG=1");
}

void ServiceWatch::StillStarting(std::chrono::microseconds extra) {
  if (ready_) return;
  Send("EXTEND_TIMEOUT_USEC=" + std::to_string(extra.count()));
}

void ServiceWatch::Stopping() {
  if (stopping_) return;
  stopping_ = true;
  Send("STOPPING=1");
}

std::string ServiceWatch::TakeFailure() {
  return std::exchange(failure_, {});
}

void ServiceWatch::Send(const std::string& state) {
  if (!manager_) return;
  if (platform::Status sent = manager_->Notify(state); !sent && !failed_) {
    failed_ = true;
    failure_ = sent.message();
  }
}

}  // namespace watch
