// glimmer show: the show of the saved playlist and preferences without a
// window, through the same scheduler and player as the Start button. For a
// player in a garage without a screen, started by a service.
#include <signal.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/audio_factory.h"
#include "platform/log_file.h"
#include "platform/paths.h"
#include "platform/show_lock.h"
#include "platform/system.h"
#include "playback/calendar_file_window.h"
#include "playback/show_log.h"
#include "playback/show_session.h"
#include "playlist/list_box.h"
#include "playlist/playlist.h"
#include "sequence_format/fade_timing.h"
#include "shell/preferences.h"
#include "shell/setting_choices.h"
#include "tools/glimmer/command_line.h"
#include "tools/glimmer/commands.h"
#include "tools/glimmer/console_show_window.h"
#include "watch/device_wait.h"
#include "watch/show_health.h"
#include "watch/show_watchdog.h"
#include "web/api.h"
#include "web/show_page.h"
#include "web/web_server.h"

namespace glimmer {
namespace {

constexpr const char* kUsage =
    "Usage: glimmer show [--dir DIR] [--device PATH | --port N] [--silent]\n"
    "                    [--wait-for-devices SECONDS]\n"
    "Runs the show of the saved playlist and preferences without a window, exactly as\n"
    "the player's Start button does: every day inside the daily window it plays the\n"
    "playlist again and again; outside it, it waits with the port closed. With\n"
    "calendar.toml in the folder its nights replace the daily window ('glimmer\n"
    "calendar' lists them). The status\n"
    "texts go to standard output, one a line; every event goes to show.log.\n"
    "Ctrl+C (SIGINT) is the Stop button: the show will not start by itself next time.\n"
    "SIGTERM or SIGHUP is closing the window: the autostart flag stays, so the next\n"
    "start of the player (or of this command) goes on with the show.\n"
    "One show runs per folder: while one holds DIR/show.lock, another refuses to start\n"
    "and names the process that holds it.\n\n"
    "With a [web] table in settings.toml ('glimmer web --enable') it also serves the\n"
    "phone page and prints its address once; a Stop from the page leaves the command\n"
    "waiting for the page's Start (Ctrl+C ends it).\n\n"
    "Options:\n"
    "  --dir DIR      the folder with preferences.txt and playlist.txt (default: the\n"
    "                 player's folder, which 'glimmer --help' names)\n"
    "  --device PATH  serial device to use instead of the saved COM port\n"
    "  --port N       COM port number 1 to 16 instead of the saved one (not saved)\n"
    "  --silent       play without sound: no sound device is waited for or checked\n"
    "  --wait-for-devices SECONDS\n"
    "                 how long to wait at start for the serial device and a sound\n"
    "                 device to appear (default 120); without sound after it the\n"
    "                 show plays silently, without the serial device it ends\n"
    "  --help         this text\n\n"
    "Under a service manager (Type=notify) it says when the show has started, its\n"
    "status, a watchdog ping from the show's loop, and when it stops. The [alerts]\n"
    "command of settings.toml is told about missed starts, restarts, port and sound\n"
    "losses, failed checks, clock jumps and each night's sum (see the README).\n\n"
    "Exit status: 0 after a stop, 1 when the devices did not appear in time, the\n"
    "playlist is empty, the port cannot be opened or another show runs on the folder\n"
    "(with a message on standard error), or on a mistake in the arguments.\n";

// lstPlayList without a window: the rows and their item data.
class PlaylistRows final : public playlist::ListBox {
 public:
  int Count() const override { return static_cast<int>(rows_.size()); }
  std::string Text(int index) const override { return rows_.at(Index(index)).text; }
  std::int32_t ItemData(int index) const override { return rows_.at(Index(index)).data; }
  void SetItemData(int index, std::int32_t data) override { rows_.at(Index(index)).data = data; }
  void InsertItem(int index, const std::string& text) override {
    rows_.insert(rows_.begin() + index, Row{text, 0});
  }
  void RemoveItem(int index) override { rows_.erase(rows_.begin() + index); }
  void Clear() override { rows_.clear(); }
  int SelectedIndex() const override { return selected_; }
  void Select(int index) override { selected_ = index; }
  void SetFocus() override {}

 private:
  struct Row {
    std::string text;
    std::int32_t data;
  };
  static std::size_t Index(int index) { return static_cast<std::size_t>(index); }
  std::vector<Row> rows_;
  int selected_ = -1;
};

// The window's part in the show, on a console: the saved settings stand in
// for the lists, and the playlist is the saved one. The settings and the
// playlist come once the console (which reports their problems) exists.
class HeadlessShowWindow final : public playback::ShowSettingsSource,
                                 public playback::PlaylistSource {
 public:
  void Attach(shell::PreferencesFile& preferences, playlist::Playlist& playlist,
              shell::Preferences settings, int portOverride) {
    preferences_ = &preferences;
    playlist_ = &playlist;
    settings_ = std::move(settings);
    portOverride_ = portOverride;
  }

  playback::ShowSettings CurrentSettings() const override {
    return {portOverride_ > 0 ? portOverride_ : std::atoi(settings_.port.c_str()),
            settings_.dataRate, std::atoi(settings_.frameTiming.c_str()), settings_.startTime,
            settings_.endTime};
  }
  // As the window writes it: its settings, the autostart flag following
  // ShowRunning. A port given on the command line is not saved.
  void SaveSettings() override {
    shell::Preferences current = settings_;
    current.autostart = running ? "1" : "0";
    preferences_->Save(current);
  }

  int RowCount() const override { return playlist_->RowCount(); }
  playlist::PlaylistEntry EntryAt(int row) const override { return playlist_->EntryAtRow(row); }
  void SelectRow(int row) override {
    page.row = row;
    playlist_->SelectRow(row);
  }

  bool running = false;
  // What the phone page shows of the show.
  web::PageShowState page;

 private:
  shell::PreferencesFile* preferences_ = nullptr;
  playlist::Playlist* playlist_ = nullptr;
  shell::Preferences settings_;
  int portOverride_ = 0;
};

}  // namespace

int RunShow(const std::vector<std::string>& args) {
  std::string dir;
  std::string device;
  int portOverride = 0;
  int waitSeconds = static_cast<int>(watch::kDefaultDeviceWait.count());
  bool silent = false;
  CLI::App app;
  app.add_option("--dir", dir);
  CLI::Option* deviceOption = app.add_option("--device", device);
  app.add_option("--port", portOverride)
      ->check(WholeNumberIn(1, shell::kHighestPort))
      ->excludes(deviceOption);
  app.add_option("--wait-for-devices", waitSeconds)->check(WholeNumberIn(0, 86400));
  app.add_flag("--silent", silent);
  if (auto ended = ParseArguments(app, "show", kUsage, args)) return *ended;

  if (dir.empty()) dir = platform::CurrentProgramFolders().data;
  if (const platform::Status made = platform::MakeDataFolder(dir); !made) {
    std::fprintf(stderr, "glimmer show: %s\n", made.message().c_str());
    return 1;
  }

  // Before any file of the folder is touched: another show owns them.
  auto showLock = platform::TakeShowLock(dir, "glimmer show");
  if (!showLock) {
    std::fprintf(stderr, "glimmer show: %s This one does not start.\n", showLock.message().c_str());
    return 1;
  }
  std::unique_ptr<platform::LogFile> logFile = platform::MakeLogFile(platform::ShowLogPath(dir));
  // The status goes to standard output as it changes, and never holds up the
  // show: a reader that stops reading loses lines, not songs.
#ifdef SIGPIPE
  ::signal(SIGPIPE, SIG_IGN);
#endif
  platform::LineOutput out(STDOUT_FILENO);
  ConsoleShowView console(out, /*labelled=*/false);
  HeadlessShowWindow window;
  web::PageShowView view(console, window.page);
  // Watches Ctrl+C, SIGTERM and SIGHUP from here on; its messages go to
  // standard error, since nobody is there to press OK.
  ConsoleUserInterface ui;
  const std::unique_ptr<platform::Clock> clock = platform::MakeSystemClock();
  const std::unique_ptr<platform::FileStore> files = platform::MakeFileStore();
  shell::PreferencesFile preferences(platform::PreferencesPath(dir), *files, ui);
  PlaylistRows rows;
  playlist::Playlist playlist(rows, ui, *files, platform::PlaylistPath(dir));
  playlist.ResetEntries();
  playlist.LoadPlaylist();
  const shell::Preferences saved = preferences.Read();
  window.Attach(preferences, playlist, shell::SelectedChoices(saved), portOverride);

  // calendar.toml, read at the start, decides the nights where it is.
  const playback::CalendarFileWindow calendar(dir);
  // Every line of show.log passes the health the page shows.
  watch::ShowHealth health;
  watch::HealthLog healthLog(*logFile, health);
  // Before the show writes a line: whether it comes back from a crash.
  watch::ShowWatchdog watchdog({.dir = dir,
                                .device = device,
                                .waitForDevices = std::chrono::seconds(waitSeconds),
                                .silent = silent,
                                .serviceManager = true,
                                .notice = {},
                                .calendar = &calendar},
                               healthLog, ui, window, window, &health);
  watchdog.NoteAutostartFlag(saved.autostart);
  bool interrupted = false;
  ui.onSignal = [&interrupted](int) { interrupted = true; };
  // A USB adapter or sound card may appear some seconds after boot; the
  // audio player looks for its device when it is made, so it comes after.
  if (!watchdog.WaitForDevices([&interrupted] { return interrupted; })) {
    watchdog.Stopping();
    return interrupted ? 0 : 1;
  }

  const std::unique_ptr<platform::SerialPort> port = platform::MakeSerialPort(
      {.dataFolder = dir, .devicePath = device, .stallTimeout = std::chrono::seconds(1)});
  std::unique_ptr<platform::AudioPlayer> audio =
      platform::MakeAudioPlayer(platform::AudioOptions{.silent = silent});
  const sequence_format::FadeTimingTable& fadeTimings = sequence_format::kFadeTimingTable;
  playback::ShowSession session(
      {*port, *audio, ui, *clock, watchdog.Log(), platform::LocalDateTime},
      {window.running, window, window, watchdog.View(view)}, fadeTimings);
  preferences.OnRefusedWrite([&session](const std::string& why) {
    session.Log(playback::show_event::SettingsNotSaved(why));
  });
  playlist.OnRefusedWrite([&session](const std::string& why) {
    session.Log(playback::show_event::PlaylistNotSaved(why));
  });
  watchdog.portInUse = [&session] { return session.IsPortOpen(); };
  ui.AddYieldHook([&watchdog] { watchdog.Poll(); });

  // Unattended shows run as a service, whose CPUSchedulingPolicy may allow it.
  const std::unique_ptr<platform::DispatchPriority> dispatchPriority =
      platform::MakeDispatchPriority();
  session.SetDispatchPriority(dispatchPriority.get());
  session.SetCalendar(calendar);

  // The phone page, when settings.toml asks for it. Its server runs only at
  // the show's yield points, on this thread.
  web::PageShowState& state = window.page;
  std::optional<web::ShowPage> page;
  std::optional<web::Api> api;
  std::optional<web::WebServer> server;
  if (const auto settings = web::ReadWebSettings(dir); !settings) {
    std::fprintf(stderr, "glimmer show: %s; the phone page stays off\n",
                 settings.message().c_str());
    session.Log("Phone page off: " + settings.message());
  } else if (settings.value().enabled) {
    page.emplace(state,
                 web::ShowPage::Show{.session = session,
                                     .showRunning = window.running,
                                     .settings = window,
                                     .playlist = window,
                                     .calendar = calendar,
                                     .audio = *audio,
                                     .clock = *clock,
                                     .health = &health,
                                     .wallNow = std::chrono::system_clock::now,
                                     .startShow = {}},
                 dir);
    api.emplace(*page, *page, settings.value().token, std::chrono::steady_clock::now,
                [&session](const std::string& line) { session.Log(line); });
    server.emplace(*api);
    const auto address = web::ParseListenAddress(settings.value().listen);
    const platform::Status listening = address ? server->Listen(address.value()) : address.status();
    if (!listening) {
      std::fprintf(stderr, "glimmer show: %s; the phone page stays off\n",
                   listening.message().c_str());
      session.Log("Phone page off: " + listening.message());
      server.reset();
    } else {
      const std::string url =
          "http://" + address.value().host + ":" + std::to_string(server->Port()) + "/";
      out.Write("Phone page: " + url +
                (address.value().host == "0.0.0.0" ? " (on every address of this machine)" : ""));
      session.Log("Phone page on " + url);
      ui.AddYieldHook([&server] { server->Poll(); });
      ui.WakeOn(server->WakeFd(), [&server] { server->Poll(); });
    }
  }

  ui.onSignal = [&](int signal) {
    if (!state.inShow) return;  // waiting for the page's Start: the program ends
    if (signal != SIGINT) {
      // As closing the window: the song and the port stop at once, the
      // autostart flag stays "1", and the program ends here.
      session.CloseNow(signal == SIGTERM ? playback::Requester::Sigterm
                                         : playback::Requester::Sighup);
      watchdog.Stopping();
      std::fflush(nullptr);
      std::exit(0);
    }
    // As the Stop button: the show ends at its next check, and the
    // preferences say it no longer runs.
    session.Stop(playback::Requester::Sigint);
  };

  playback::Requester startedBy = playback::Requester::GlimmerShow;
  for (;;) {
    state.startAsked = false;
    session.Start(startedBy);
    state.inShow = false;
    // Ended by a signal or by itself: the command ends as it always did.
    if (!server || ui.Interrupted() || window.running) break;
    // Stopped from the page, which may start it again.
    while (!state.startAsked && !ui.Interrupted()) {
      ui.WaitForEvents(std::chrono::milliseconds(100));
    }
    if (ui.Interrupted()) break;
    startedBy = playback::Requester::PhonePage;
  }
  watchdog.Stopping();
  // Only Stop clears ShowRunning: a show that ended with it still set ended
  // by itself (an empty playlist, a port that would not open), and the
  // scheduler has said why.
  return window.running ? 1 : 0;
}

}  // namespace glimmer
