#include "watch/show_health.h"

#include <ctime>
#include <optional>
#include <string_view>

#include "platform/local_clock_face.h"
#include "watch/night_report.h"

namespace watch {
std::string LocalStamp(std::chrono::system_clock::time_point time) {
  const std::tm local = platform::LocalClockFace(std::chrono::system_clock::to_time_t(time));
  char text[32] = {};
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
  return text;
}

void ShowHealth::Written(const std::string& line) {
  Take(line, true);
}

void ShowHealth::Heard(const std::string& at, const playback::ShowEvent& event) {
  Take(at, event, true);
}

void ShowHealth::Seed(const std::string& logText) {
  playback::ForEachShowLogLine(logText, [this](std::string_view line) { Take(line, false); });
}

void ShowHealth::Take(std::string_view text, bool live) {
  if (const std::optional<playback::ShowLogLine> line = playback::ParseShowLogLine(text)) {
    Take(line->stamp, line->event, live);
  }
}

void ShowHealth::Take(const std::string& at, const playback::ShowEvent& event, bool live) {
  using Kind = playback::ShowEventKind;
  if (event.kind == Kind::AlertRaised) {
    alerts_.push_back({at, event.name, event.text});
    if (alerts_.size() > kAlertsKept) alerts_.pop_front();
    return;
  }
  if (event.kind == Kind::NightCheck) {
    lastCheck_ = Check{at, playback::Describe(event)};
    return;
  }
  if (!live) return;
  switch (event.kind) {
    case Kind::ShowStarted:
      lineKnown_ = false;
      lateEntries_ = 0;
      lastLate_.clear();
      portLost_.clear();
      break;
    case Kind::LineLate:
      lineKnown_ = true;
      ++lateEntries_;
      lastLate_ = playback::Describe(event);
      break;
    case Kind::EntryFinished:
      lineKnown_ = true;
      break;
    case Kind::PortLost:
      portLost_ = playback::Describe(event);
      break;
    case Kind::PortOpened:
    case Kind::PortBack:
      portLost_.clear();
      break;
    default:
      break;
  }
}

std::vector<ShowHealth::Alert> ShowHealth::AlertsSince(const std::string& since) const {
  std::vector<Alert> recent;
  for (const Alert& alert : alerts_) {
    if (alert.at >= since) recent.push_back(alert);
  }
  return recent;
}

std::optional<ShowHealth::LineState> ShowHealth::Line() const {
  // A lost port is news at once, played entry or not.
  if (!portLost_.empty()) return LineState{false, portLost_};
  if (!lineKnown_) return std::nullopt;
  if (lateEntries_ == 0) return LineState{true, "every entry on time at the controllers"};
  return LineState{false,
                   std::to_string(lateEntries_) + (lateEntries_ == 1 ? " entry" : " entries") +
                       " fell visibly behind on the line in this show; the last: " + lastLate_};
}

}  // namespace watch
