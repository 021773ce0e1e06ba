#include "watch/show_watch.h"

#include "playback/calendar_file_window.h"
#include "playback/show_log.h"
#include "playback/show_scheduler.h"
#include "watch/night_report.h"

namespace watch {

ShowWatch::ShowWatch(AlertRunner& alerts, ServiceWatch& service, ClockWatch& clock,
                     platform::TimeSource& time, Worker& worker, Hooks hooks, bool silentChosen)
    : alerts_(alerts),
      service_(service),
      clock_(clock),
      time_(time),
      worker_(worker),
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
  running_ = true;
  inside_ = window.inside;
  if (inside_) {
    openedAt_ = time_.Steady();
    RunCheck(window);
  }
}

void ShowWatch::Poll(const ShowWindowNow& window) {
  service_.Alive();
  alerts_.Poll();
  CollectCheck();
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
  } else if (!inside && inside_) {
    inside_ = false;
    WindowClosed();
  }
  // Inside a window not yet checked too: a check that was due while the
  // last one was still reading starts as soon as that one is told.
  const bool soon = !inside && window.secondsToOpening && *window.secondsToOpening > 0 &&
                    *window.secondsToOpening <= kCheckAheadSeconds;
  if (!checked_ && (inside_ || soon)) RunCheck(window);
  if (inside_ && songSinceOpen_ && !litSinceOpen_) {
    litSinceOpen_ = !hooks_.portOpen || hooks_.portOpen();
  }
  // A show the operator stopped misses no start.
  if (running_ && inside_ && !litSinceOpen_ && !missedTold_ &&
      now - openedAt_ >= kMissedStartAfter) {
    missedTold_ = true;
    alerts_.Raise(alert::kMissedStart,
                  "the window " + window.startText + " to " + window.endText +
                      (songSinceOpen_ ? " opened and no song has played with the serial port "
                                        "open within a minute: the lights stay dark"
                                      : " opened and no song has started within a minute"));
  }
}

void ShowWatch::RunCheck(const ShowWindowNow& window) {
  // Never two reads of the same files at once; this one waits its turn.
  if (checking_) return;
  checked_ = true;
  if (hooks_.log) hooks_.log(playback::show_event::NightWindow(window.startText, window.endText));
  if (!hooks_.check) return;
  checking_ = hooks_.check();
  if (!worker_.Start(checking_->read)) checking_.reset();
}

void ShowWatch::CollectCheck() {
  if (!checking_ || worker_.Busy()) return;
  const NightCheckReport report = checking_->finish();
  checking_.reset();
  if (hooks_.log) {
    hooks_.log(playback::show_event::Said(DescribeNightCheck(report)));
    // The log cuts a line past its limit: a long report keeps every problem
    // on a line of its own.
    for (const std::string& line :
         NightCheckProblemLines(report, playback::ShowLog::kMaxEventBytes)) {
      hooks_.log(playback::show_event::Said(line));
    }
  }
  const std::string text = ShortNightCheck(report);
  if (report.clockJumped) alerts_.Raise(alert::kClockJump, text);
  if (!report.ok()) {
    if (hooks_.notice) hooks_.notice(text);
    TellOnce(alert::kCheckFailed, text);
  }
}

bool ShowWatch::TellOnce(const char* name, const std::string& text) {
  if (!toldOnce_.emplace(name, text).second) return false;
  alerts_.Raise(name, text);
  return true;
}

void ShowWatch::WindowClosed() {
  checked_ = false;
  if (!hooks_.readLog) return;
  const std::vector<NightPlayed> nights = ExpectedAgainstPlayed(hooks_.readLog());
  if (nights.empty()) return;
  const NightPlayed& night = nights.back();
  // A night the show was never asked to play (stopped before it opened) has
  // nothing to sum up; one stopped part way counts until the stop.
  if (night.askedSeconds == 0) return;
  const std::string text = DescribeNight(night);
  alerts_.Raise(alert::kSummary, text);
  if (night.Short()) alerts_.Raise(alert::kNightShort, text);
}

void ShowWatch::Event(const playback::ShowEvent& event) {
  using Kind = playback::ShowEventKind;
  switch (event.kind) {
    case Kind::EntryStarted:
      songSinceOpen_ = true;
      break;
    case Kind::ShowStopped:
    case Kind::ShowEnded:
      running_ = false;
      break;
    case Kind::EntryFinished:
    case Kind::EntryCut:
      // The show played: a trouble that comes back is news again.
      toldOnce_.clear();
      break;
    case Kind::PortLost:
      alerts_.Raise(alert::kPortLost, playback::Describe(event));
      break;
    case Kind::PortBack:
      alerts_.Raise(alert::kPortBack, playback::Describe(event));
      break;
    case Kind::PlaysSilently:
      if (!silentChosen_ && !silentTold_) {
        silentTold_ = true;
        alerts_.Raise(alert::kAudioLost, playback::Describe(event));
      }
      break;
    case Kind::NothingPlayable:
      TellOnce(alert::kNothingPlayable,
               std::string(playback::kNothingPlayableText) + ". Last problem: " + event.text);
      break;
    case Kind::PausedCalendarRefused: {
      // A mistake in the calendar keeps the yard dark until someone mends it.
      const std::string text = playback::CalendarRefusedText(event.text);
      if (TellOnce(alert::kCheckFailed, text) && hooks_.notice) hooks_.notice(text);
      break;
    }
    default:
      break;
  }
}

void ShowWatch::Status(const std::string& text) {
  service_.Status(text);
}

void ShowWatch::Stopping() {
  worker_.Stop();
  checking_.reset();
  service_.Stopping();
  alerts_.Poll();
}

}  // namespace watch
