#pragma once

#include <chrono>
#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "platform/child_process.h"
#include "platform/time_source.h"
#include "playback/show_event.h"

namespace watch {

// The events an operator is told about, by these names.
namespace alert {
inline constexpr const char* kMissedStart = "missed-start";
inline constexpr const char* kRestarted = "restarted";
inline constexpr const char* kPortLost = "port-lost";
inline constexpr const char* kPortBack = "port-back";
inline constexpr const char* kAudioLost = "audio-lost";
inline constexpr const char* kNothingPlayable = "nothing-playable";
inline constexpr const char* kCheckFailed = "check-failed";
inline constexpr const char* kClockJump = "clock-jump";
inline constexpr const char* kNightShort = "night-short";
inline constexpr const char* kSummary = "summary";
}  // namespace alert

inline constexpr std::chrono::seconds kAlertTimeLimit{10};
// An alert's text goes to the command as one argument, which the system
// refuses past 128 KB: a check that found a few hundred problems (a lost
// Cache folder) must still be told. Far below that, and short enough for a
// message on a phone; the log has the whole.
inline constexpr std::size_t kAlertTextLimit = 4096;

// `text` whole when it fits `limit` bytes; else cut where a character
// begins, with `tail` after it, to `limit` bytes in all.
std::string CutToFit(std::string text, std::size_t limit, std::string_view tail);

// What an alert command still gets once the program is ending (Ctrl+C, a
// shutdown): the operator waits for it, and a service manager's stop does.
inline constexpr std::chrono::seconds kAlertExitGrace{2};

// Tells the alert command about events: `command EVENT "one line of text"`,
// one run at a time, in the background. The show calls Poll() at its yield
// points; nothing here ever waits for the command. Every alert, and what the
// command printed and how it ended, goes to the log.
class AlertRunner {
 public:
  AlertRunner(std::string command, platform::ChildStarter& starter, platform::TimeSource& time,
              std::function<void(const playback::ShowEvent&)> log);

  // A text past kAlertTextLimit reaches the command cut, with its length.
  void Raise(std::string_view event, std::string_view text);
  // Reaps a finished run, stops one past its time limit, starts the next.
  void Poll();
  // Before the program ends, when nobody polls any more: lets what was
  // raised reach the command for up to `limit`, with `pause` between looks.
  // What is still waiting then is logged as not passed on, and a run still
  // under way is stopped. Returns what was stopped or not passed on, in a
  // line for the operator; empty when every alert reached the command.
  std::string Drain(std::chrono::steady_clock::duration limit, const std::function<void()>& pause);
  // True while a run is under way or waiting.
  bool Busy() const { return running_ != nullptr || !queue_.empty(); }

 private:
  struct Alert {
    std::string event;
    std::string text;
  };
  void StartNext();
  void KeepOutput(bool flush);

  std::string command_;
  platform::ChildStarter& starter_;
  platform::TimeSource& time_;
  void Log(const std::string& line) { log_(playback::show_event::Said(line)); }

  std::function<void(const playback::ShowEvent&)> log_;
  std::deque<Alert> queue_;
  int dropped_ = 0;
  std::unique_ptr<platform::ChildProcess> running_;
  Alert current_;
  std::chrono::steady_clock::time_point startedAt_{};
  bool killed_ = false;
  std::string partialLine_;
  int outputLines_ = 0;
};

}  // namespace watch
