#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/audio_player.h"
#include "platform/clock.h"
#include "platform/log_file.h"
#include "platform/serial_port.h"
#include "platform/status.h"
#include "platform/user_interface.h"
#include "playback/calendar_file_window.h"
#include "playback/show_front_end.h"
#include "playback/show_session.h"
#include "sequence_format/fade_timing.h"
#include "watch/show_health.h"
#include "watch/show_watchdog.h"
#include "web/last_nights.h"
#include "web/show_page.h"

namespace web {
class Api;
class WebServer;
struct ListenAddress;
}  // namespace web

// The show with everything that watches and serves it, the same for every
// front end: a front end renders what the host tells it and forwards the
// operator's commands, nothing more.
namespace host {

// What a front end gives the host: the machine, its settings and playlist,
// and where the show's changes are shown.
struct ShowHostOptions {
  // The show's folder: show.log, settings.toml and calendar.toml.
  std::string dir;
  platform::SerialPort& port;
  platform::AudioPlayer& audio;
  // Yields to the front end's events; messages the operator must answer.
  platform::UserInterface& ui;
  platform::Clock& clock;
  playback::ShowSettingsSource& settings;
  playback::PlaylistSource& playlist;
  // The front end's rendering of the show; more may subscribe later.
  playback::ShowView& view;
  // show.log; the file in `dir` when not given.
  platform::LogFile* logFile = nullptr;
  // The date and time of a log line, and the wall clock alerts count back from.
  std::function<std::string()> now = {};
  std::function<std::chrono::system_clock::time_point()> wallNow = std::chrono::system_clock::now;
  // Must outlive the host; the built-in table when not given.
  const sequence_format::FadeTimingTable* fadeTimings = nullptr;
  // Whether the front end can start a show now; an error says why not (an
  // import holds the window).
  std::function<platform::Status()> canStart = {};
  // A Start asked from afar (the phone page), checked and taken: the front
  // end calls RunAskedStart() from its own loop, not inside the request.
  std::function<void()> startAsked = {};
  // Where the host tells the operator something of its own (the phone page
  // stays off, a change that needs a restart).
  std::function<void(const std::string&)> notice = {};
  // Another process that runs a show on `dir` now, in the words that name
  // it; nothing when none does. The folder's show.lock tells when not given.
  std::function<std::optional<std::string>()> otherShow = {};
};

class ShowHost {
 public:
  explicit ShowHost(ShowHostOptions options);
  ~ShowHost();
  ShowHost(const ShowHost&) = delete;
  ShowHost& operator=(const ShowHost&) = delete;

  // Keeps watch over the show: the check before each night, expected against
  // played, alerts. Before the first line of the show is written (it tells a
  // restart after a crash by the log's last line). The folder, calendar and
  // notice of the watch are the host's.
  watch::ShowWatchdog& KeepWatch(watch::WatchdogOptions options);
  watch::ShowWatchdog* Watchdog() { return watchdog_.get(); }

  // Serves the phone page while settings.toml has a [web] table; Poll picks
  // up a table added, changed or removed later. A mistake goes to the log
  // and the notice.
  void ServePhonePage();
  // "http://127.0.0.1:8080/" while the page is served, else empty.
  const std::string& PhonePageAddress() const { return address_; }
  // True when the page listens on every address of the machine.
  bool PhonePageOnEveryAddress() const { return everyAddress_; }
  // The link that opens the served page with its token on a phone, the one
  // 'glimmer web --enable' prints; empty while the page is not served.
  const std::string& PhonePageLink() const { return link_; }
  // True when only this machine reaches the served page (the loopback).
  bool PhonePageLoopbackOnly() const { return loopbackOnly_; }
  // Told each time the page's address changes (empty: no longer served).
  std::function<void(const std::string&)> onPhonePage;

  // The commands, from any front end; `who` names the origin in the log.
  // An error says why the show cannot do it now.
  //
  // Runs the show; returns when it has ended.
  platform::Status Start(const playback::Origin& who);
  // Checks a Start as Start does and leaves it to the front end's loop.
  platform::Status AskStart(const playback::Origin& who);
  bool StartIsAsked() const { return startAsked_; }
  // Runs the Start asked last; nothing when none is.
  void RunAskedStart();
  platform::Status Stop(const playback::Origin& who);
  platform::Status StopAfterSong(const playback::Origin& who);
  platform::Status Skip(const playback::Origin& who);
  // The song and the port stop at once; the autostart flag stays.
  void CloseNow(const playback::Origin& who);

  // At the show's yields and now and then from the front end's own loop:
  // the watch, the page's server and changed settings files.
  void Poll();
  // Readable when the page's server has something to answer; -1: none.
  int WakeFd() const;

  // Another front end that renders the show (a second window, a test).
  void Subscribe(playback::ShowView& view);

  // The phone page's status and buttons, also while the page is not served.
  web::StatusSource& PageStatus() { return *page_; }
  web::ControlSink& PageControls();

  // Where the show stands, as every front end and the phone page show it:
  // the session's state, with tonight's window as the calendar gives it
  // while no show keeps its own, the song's time as the audio plays it, and
  // while a Start is asked, the state that Start leads to.
  playback::ShowState State() const;
  // Between the show's start and its end.
  bool InShow() const;
  bool ShowRunning() const { return showRunning_; }
  // Whether the controllers hear the show now: a show under way that is
  // neither paused nor without its port.
  bool LineAlive() const;
  // The line under the status while the show is not playing: when it opens
  // next, that it is open now, or why the calendar cannot be used.
  std::string NextShowLine();
  // Whether calendar.toml decides the nights.
  bool CalendarInUse() const { return calendar_.InUse(); }
  // Reads calendar.toml again, unless a show under way keeps the one it
  // started with.
  void ReadCalendarAgain();
  // Told when calendar.toml changed while no show ran, and was read again.
  std::function<void()> onCalendarChanged;

  playback::ShowSession& Session() { return *session_; }
  const playback::ShowCalendar& Calendar() const { return calendar_; }
  watch::ShowHealth& Health() { return health_; }
  // An event of the front end's own into show.log, and a line in its own
  // words.
  void Log(const playback::ShowEvent& event) { session_->Log(event); }
  void Log(std::string_view line) { session_->Log(line); }

 private:
  class FanOut;
  class RelayLog;
  class RelayView;
  class PageButtons;

  platform::Status CanStart() const;
  // An entry plays now: its audio is open at a row of the playlist.
  bool PlayingNow() const;
  void StopServing();
  // Serves the page when settings.toml asks for it and no other show runs
  // on the folder; why not is said once, however often it is tried.
  void TryServing();
  void PageOff(const std::string& why);
  void LookAtOtherShows();
  void WarnWithoutToken(const web::ListenAddress& address, const std::string& token);
  void LookAtFiles();
  void Say(const std::string& text);

  ShowHostOptions options_;
  bool showRunning_ = false;
  // A Start from the page that the front end has yet to carry out.
  bool startAsked_ = false;
  std::unique_ptr<platform::LogFile> ownLogFile_;
  playback::CalendarFileWindow calendar_;
  watch::ShowHealth health_;
  web::NightBook nights_;
  std::unique_ptr<web::NightBookLog> nightsLog_;
  std::unique_ptr<watch::HealthLog> healthLog_;
  std::unique_ptr<RelayLog> relayLog_;
  std::unique_ptr<FanOut> fanOut_;
  std::unique_ptr<RelayView> relayView_;
  std::unique_ptr<playback::ShowSession> session_;
  std::unique_ptr<watch::ShowWatchdog> watchdog_;
  std::unique_ptr<PageButtons> controls_;
  std::unique_ptr<web::ShowPage> page_;
  std::unique_ptr<web::Api> api_;
  std::unique_ptr<web::WebServer> server_;
  std::string address_;
  bool everyAddress_ = false;
  std::string link_;
  bool loopbackOnly_ = false;
  bool serving_ = false;  // inside a poll: a request may yield again
  playback::Origin asked_;
  // What the settings files held when last looked at.
  std::string webText_;
  std::string alertsText_;
  std::string calendarText_;
  std::int64_t lastLook_ = 0;
  bool pageWanted_ = false;
  // Why the page is not served, as last said; empty while it is.
  std::string pageOff_;
};

}  // namespace host
