#pragma once

#include <chrono>
#include <cstddef>
#include <deque>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/log_file.h"
#include "playback/show_event.h"

namespace watch {

// The show's health as an operator asks after it from afar: when the last
// check before a night ran and what it found, the alerts raised lately, and
// how the serial line carried this show. Gathered from the show log's lines
// as they are written, so every front end that writes through it knows the
// same, and the alerts of the hours before a restart are not forgotten.
class ShowHealth {
 public:
  struct Alert {
    std::string at;  // "YYYY-MM-DD HH:MM:SS", local time as the log has it
    std::string event;
    std::string text;
  };
  struct Check {
    std::string at;
    std::string result;  // as the log words it
  };
  struct LineState {
    bool ok = true;
    std::string summary;
  };

  // Alerts kept for the page: more than a bad day raises.
  static constexpr std::size_t kAlertsKept = 200;

  // A line of the log as written: date and time, then the event.
  void Written(const std::string& line);
  // An event of this show, logged at `at` ("YYYY-MM-DD HH:MM:SS").
  void Heard(const std::string& at, const playback::ShowEvent& event);
  // The log as it was before this run: its checks and alerts still count;
  // its line health belongs to another show.
  void Seed(const std::string& logText);

  const std::optional<Check>& LastCheck() const { return lastCheck_; }
  // Alerts stamped at `since` or later, oldest first.
  std::vector<Alert> AlertsSince(const std::string& since) const;
  // Nothing before this show has played an entry through: until then the
  // line's health is not known.
  std::optional<LineState> Line() const;

 private:
  void Take(std::string_view line, bool live);
  void Take(const std::string& at, const playback::ShowEvent& event, bool live);

  std::optional<Check> lastCheck_;
  std::deque<Alert> alerts_;
  bool lineKnown_ = false;
  int lateEntries_ = 0;
  std::string lastLate_;
  std::string portLost_;  // the loss not yet followed by the port's return
};

// `time` in the log's own form ("YYYY-MM-DD HH:MM:SS", local time), so that
// stamps compare as text.
std::string LocalStamp(std::chrono::system_clock::time_point time);

// show.log seen on its way: every line also goes to `health`.
class HealthLog final : public platform::LogFile {
 public:
  HealthLog(platform::LogFile& inner, ShowHealth& health) : inner_(inner), health_(health) {}
  platform::Status AppendLine(const std::string& line) override {
    health_.Written(line);
    return inner_.AppendLine(line);
  }

 private:
  platform::LogFile& inner_;
  ShowHealth& health_;
};

}  // namespace watch
