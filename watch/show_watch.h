#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <utility>

#include "platform/time_source.h"
#include "playback/show_event.h"
#include "watch/alerts.h"
#include "watch/night_check.h"
#include "watch/service_watch.h"
#include "watch/worker.h"

namespace watch {

// Where the show stands against its window (the daily window or a calendar
// of seasons), as its calendar answers now.
struct ShowWindowNow {
  bool inside = false;
  // Seconds until the window next opens; nothing when it never will.
  std::optional<int> secondsToOpening;
  // The texts that name the window, for the log and the alerts.
  std::string startText;
  std::string endText;
};

// Keeps watch over a running show for the operator who is not there: feeds
// the service manager's watchdog from the show's loop, runs the check ten
// minutes before each night (and at a start inside the window), notices a
// window without a song and a clock that jumps, turns the show's own events
// into alerts, and sums up each night when its window closes. Everything
// happens from the show's own thread, at its yield points, but for the
// reading of the playlist's files, which the worker does meanwhile; what it
// found is told at the first yield point after it is done.
class ShowWatch {
 public:
  static constexpr int kCheckAheadSeconds = 10 * 60;
  static constexpr std::chrono::seconds kMissedStartAfter{60};
  static constexpr std::chrono::seconds kClockLookEvery{10};

  // The check before a night in two halves: `read` runs on the worker (the
  // playlist's files, seconds for a large cache); `finish`, on the show's
  // thread once the read is done, gives the report.
  struct CheckJob {
    Worker::Job read;
    std::function<NightCheckReport()> finish;
  };

  struct Hooks {
    std::function<CheckJob()> check;                      // the check before a night
    std::function<std::string()> readLog;                 // the show log's text (older part first)
    std::function<void(const playback::ShowEvent&)> log;  // one line into the show log
    std::function<void(const std::string&)> notice;       // the operator's notice line
    // Whether the serial port is open now. A song that plays while it is not
    // (the adapter unplugged) leaves the yard dark: no start for the window.
    std::function<bool()> portOpen;
  };

  ShowWatch(AlertRunner& alerts, ServiceWatch& service, ClockWatch& clock,
            platform::TimeSource& time, Worker& worker, Hooks hooks, bool silentChosen);

  // The show has started (devices there, port open); `restarted` as
  // watch::Restarted() found it before the show wrote its first line.
  void Started(bool restarted, const ShowWindowNow& window);
  // At every yield point of the show; cheap when nothing is due.
  void Poll(const ShowWindowNow& window);
  // Every event of the show, and its status texts.
  void Event(const playback::ShowEvent& event);
  void Status(const std::string& text);
  // Also stops a check under way: its findings would come too late.
  void Stopping();

 private:
  void RunCheck(const ShowWindowNow& window);
  // Tells what a check found, once its read is done.
  void CollectCheck();
  void WindowClosed();
  // Raises `name` unless the same text was told since the show last played:
  // a trouble that stays is told once, not at every retry. True when told.
  bool TellOnce(const char* name, const std::string& text);

  AlertRunner& alerts_;
  ServiceWatch& service_;
  ClockWatch& clock_;
  platform::TimeSource& time_;
  Worker& worker_;
  Hooks hooks_;
  std::optional<CheckJob> checking_;  // started, not yet told
  bool silentChosen_;
  bool running_ = false;  // from Started to the show's stop or end
  bool inside_ = false;
  bool checked_ = false;
  bool songSinceOpen_ = false;
  bool litSinceOpen_ = false;
  bool missedTold_ = false;
  bool silentTold_ = false;
  // The alerts and texts told once, and not again until the show plays.
  std::set<std::pair<std::string, std::string>> toldOnce_;
  std::chrono::steady_clock::time_point openedAt_{};
  std::chrono::steady_clock::time_point lastClockLook_{};
};

}  // namespace watch
