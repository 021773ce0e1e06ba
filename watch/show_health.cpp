#include "watch/show_health.h"

#include <ctime>
#include <string_view>

#include "platform/local_clock_face.h"
#include "watch/night_report.h"

namespace watch {
namespace {

// "YYYY-MM-DD HH:MM:SS " before every event.
constexpr std::size_t kStampLength = 19;

bool StartsWith(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

bool Contains(std::string_view text, std::string_view part) {
  return text.find(part) != std::string_view::npos;
}

}  // namespace

std::string LocalStamp(std::chrono::system_clock::time_point time) {
  const std::tm local = platform::LocalClockFace(std::chrono::system_clock::to_time_t(time));
  char text[32] = {};
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
  return text;
}

void ShowHealth::Written(const std::string& line) {
  Take(line, true);
}

void ShowHealth::Seed(const std::string& logText) {
  ForEachLogLine(logText, [this](std::string_view line) { Take(std::string(line), false); });
}

void ShowHealth::Take(const std::string& line, bool live) {
  const std::string_view event = LogLineEvent(line);
  if (event.empty()) return;
  const std::string at = line.substr(0, kStampLength);
  if (StartsWith(event, "Alert ")) {
    const std::string_view rest = event.substr(6);
    const std::size_t colon = rest.find(": ");
    if (colon == std::string_view::npos) return;
    alerts_.push_back(
        {at, std::string(rest.substr(0, colon)), std::string(rest.substr(colon + 2))});
    if (alerts_.size() > kAlertsKept) alerts_.pop_front();
    return;
  }
  if (StartsWith(event, "Check before the night: ")) {
    lastCheck_ = Check{at, std::string(event)};
    return;
  }
  if (!live) return;
  if (StartsWith(event, "Show started")) {
    lineKnown_ = false;
    lateEntries_ = 0;
    lastLate_.clear();
    portLost_.clear();
  } else if (StartsWith(event, "Entry ") && Contains(event, " line late: ")) {
    lineKnown_ = true;
    ++lateEntries_;
    lastLate_ = event;
  } else if (StartsWith(event, "Entry ") && Contains(event, " finished")) {
    lineKnown_ = true;
  } else if (StartsWith(event, "Port ") && Contains(event, " lost: ")) {
    portLost_ = event;
  } else if (StartsWith(event, "Port ") && Contains(event, " opened again")) {
    portLost_.clear();
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
