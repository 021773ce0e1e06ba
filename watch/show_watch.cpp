#include "watch/show_watch.h"

#include <string_view>

#include "playback/show_scheduler.h"
#include "watch/night_report.h"

namespace watch {
namespace {

bool StartsWith(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

bool Contains(std::string_view text, std::string_view piece) {
  return text.find(piece) != std::string_view::npos;
}

}  // namespace

ShowWatch::ShowWatch(AlertRunner& alerts, ServiceWatch& service, ClockWatch& clock,
                     platform::TimeSource& time, Hooks hooks, bool silentChosen)
    : alerts_(alerts),
      service_(service),
      clock_(clock),
      time_(time),
      hooks_(std::move(hooks)),
      silentChosen_(silentChosen) {}

void ShowWatch::Started(bool restarted, const ShowWindowNow& window) {
  service_.Ready();
  lastClockLook_ = time_.Steady();
  if (restarted) {
    alerts_.Raise(alert::kRestarted,
                  "the show came back after it ended without a stop (a crash, a hang or a power "
                  "cut)");
  }
  inside_ = window.inside;
  if (inside_) {
    openedAt_ = time_.Steady();
    RunCheck(window);
  }
}

void ShowWatch::Poll(const ShowWindowNow& window) {
  service_.Alive();
  alerts_.Poll();
  const auto now = time_.Steady();

  if (now - lastClockLook_ >= kClockLookEvery) {
    lastClockLook_ = now;
    const ClockWatch::Finding look = clock_.Look();
    if (look.jumped) alerts_.Raise(alert::kClockJump, look.problem);
  }

  const bool inside = window.inside;
  if (inside && !inside_) {
    inside_ = true;
    openedAt_ = now;
    songSinceOpen_ = false;
    litSinceOpen_ = false;
    missedTold_ = false;
    if (!checked_) RunCheck(window);
  } else if (!inside && inside_) {
    inside_ = false;
    WindowClosed();
  }
  if (!inside && !checked_ && window.secondsToOpening && *window.secondsToOpening > 0 &&
      *window.secondsToOpening <= kCheckAheadSeconds) {
    RunCheck(window);
  }
  if (inside_ && songSinceOpen_ && !litSinceOpen_) {
    litSinceOpen_ = !hooks_.portOpen || hooks_.portOpen();
  }
  if (inside_ && !litSinceOpen_ && !missedTold_ && now - openedAt_ >= kMissedStartAfter) {
    missedTold_ = true;
    alerts_.Raise(alert::kMissedStart,
                  "the window " + window.startText + " to " + window.endText +
                      (songSinceOpen_ ? " opened and no song has played with the serial port "
                                        "open within a minute: the lights stay dark"
                                      : " opened and no song has started within a minute"));
  }
}

void ShowWatch::RunCheck(const ShowWindowNow& window) {
  checked_ = true;
  if (hooks_.log) hooks_.log(NightWindowEvent(window.startText, window.endText));
  if (!hooks_.check) return;
  const NightCheckReport report = hooks_.check();
  const std::string text = DescribeNightCheck(report);
  if (hooks_.log) hooks_.log(text);
  if (report.clockJumped) alerts_.Raise(alert::kClockJump, text);
  if (!report.ok()) {
    if (hooks_.notice) hooks_.notice(text);
    alerts_.Raise(alert::kCheckFailed, text);
  }
}

void ShowWatch::WindowClosed() {
  checked_ = false;
  if (!hooks_.readLog) return;
  const std::vector<NightPlayed> nights = ExpectedAgainstPlayed(hooks_.readLog());
  if (nights.empty()) return;
  const NightPlayed& night = nights.back();
  const std::string text = DescribeNight(night);
  alerts_.Raise(alert::kSummary, text);
  if (night.Short()) alerts_.Raise(alert::kNightShort, text);
}

void ShowWatch::Event(const std::string& event) {
  if (StartsWith(event, "Entry ") && Contains(event, " started: ")) {
    songSinceOpen_ = true;
    nothingPlayableTold_ = false;
  } else if (StartsWith(event, "Port ") && Contains(event, " lost: ")) {
    alerts_.Raise(alert::kPortLost, event);
  } else if (StartsWith(event, "Port ") && Contains(event, " opened again")) {
    alerts_.Raise(alert::kPortBack, event);
  } else if (StartsWith(event, "Entry ") && Contains(event, " plays silently: ")) {
    if (!silentChosen_ && !silentTold_) {
      silentTold_ = true;
      alerts_.Raise(alert::kAudioLost, event);
    }
  }
}

void ShowWatch::Status(const std::string& text) {
  service_.Status(text);
}

void ShowWatch::Notice(const std::string& text) {
  if (StartsWith(text, playback::kNothingPlayableText) && !nothingPlayableTold_) {
    nothingPlayableTold_ = true;
    alerts_.Raise(alert::kNothingPlayable, text);
  }
}

void ShowWatch::Stopping() {
  service_.Stopping();
  alerts_.Poll();
}

}  // namespace watch
