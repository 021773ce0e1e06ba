#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>

#include "platform/child_process.h"
#include "platform/log_file.h"
#include "platform/service_manager.h"
#include "platform/user_interface.h"
#include "playback/show_calendar.h"
#include "playback/show_front_end.h"
#include "playback/show_log.h"
#include "watch/alerts.h"
#include "watch/night_check.h"
#include "watch/service_watch.h"
#include "watch/show_health.h"
#include "watch/show_watch.h"
#include "watch/worker.h"

// The watch over a show on this machine: it sits between the show session
// and the outside (the log file, the view, the yield points) and leaves the
// session itself untouched. The window and glimmer show both keep it; only
// glimmer show, which a service manager starts, speaks to the manager.
namespace watch {

struct WatchdogOptions {
  std::string dir;
  std::string device;  // --device, or empty for the COM port
  std::chrono::seconds waitForDevices{120};
  bool silent = false;  // --silent: no sound device is needed
  // Tell the service manager (READY, STATUS, WATCHDOG, STOPPING) when one
  // started us.
  bool serviceManager = false;
  // Where a failed check is shown; standard error when not set.
  std::function<void(const std::string&)> notice;
  // The show's nights (calendar.toml or the daily window); the daily window
  // of the settings when not set.
  const playback::ShowCalendar* calendar = nullptr;
};

class ShowWatchdog {
 public:
  // `logFile` is show.log; nothing has been written to it in this run yet.
  // `health`, when given, hears what the log held before this run.
  ShowWatchdog(WatchdogOptions options, platform::LogFile& logFile, platform::UserInterface& ui,
               const playback::ShowSettingsSource& settings,
               const playback::PlaylistSource& playlist, ShowHealth* health = nullptr);
  ~ShowWatchdog();

  // Whether the show was running when the program last ended without a
  // stop; asked before the show writes its first line.
  void NoteAutostartFlag(const std::string& flag);

  // Waits for the serial device and (unless silent) a sound device. False,
  // after a message on standard error and in the log, when they did not
  // come within the limit or the wait was interrupted.
  bool WaitForDevices(const std::function<bool()>& interrupted);

  // The session's log file; its view, watched on its way through.
  platform::LogFile& Log() { return logFile_; }
  playback::ShowView& View(playback::ShowView& inner);
  // Every event of the session (subscribed by the front end, which keeps
  // the watchdog as long as the session).
  void Heard(const playback::ShowEvent& event);

  // At every yield point of the show.
  void Poll();
  // The show has ended (or is closing now).
  void Stopping();

  // Whether the serial port is in use by the show right now (the check then
  // does not try to open it).
  std::function<bool()> portInUse;

 private:
  class WatchedView;
  class Probes;

  ShowWindowNow WindowNow();
  // The check before a night, its files read by the worker.
  ShowWatch::CheckJob NightCheck();
  void Say(const std::string& text);
  // Where a failed check is shown: the notice, or standard error.
  void Tell(const std::string& text);
  // show.log and its older file as they are now; empty, after saying why,
  // when they cannot be read.
  std::string ReadLog();

  WatchdogOptions options_;
  platform::UserInterface& ui_;
  const playback::ShowSettingsSource& settings_;
  const playback::PlaylistSource& playlist_;
  platform::LogFile& logFile_;
  playback::ShowLog ownLog_;
  std::string logAtStart_;
  bool restarted_ = false;
  std::unique_ptr<platform::ServiceManager> manager_;
  std::unique_ptr<platform::TimeSource> time_;
  std::unique_ptr<platform::ChildStarter> starter_;
  std::unique_ptr<platform::Clock> clock_;
  playback::DailyWindow dailyWindow_;
  std::unique_ptr<ServiceWatch> service_;
  std::unique_ptr<AlertRunner> alerts_;
  std::unique_ptr<ClockWatch> clockWatch_;
  // Ahead of the watch that hands it work, so it ends (its job stopped)
  // after the watch.
  ThreadWorker worker_;
  std::unique_ptr<ShowWatch> watch_;
  std::unique_ptr<WatchedView> view_;
  std::chrono::steady_clock::time_point lastWindowLook_{};
  ShowWindowNow window_;
  bool started_ = false;
};

}  // namespace watch
