// glimmer show: the show of the saved playlist and preferences without a
// window, through the same scheduler and player as the Start button. For a
// player in a garage without a screen, started by a service.
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "host/show_host.h"
#include "platform/audio_factory.h"
#include "platform/log_file.h"
#include "platform/paths.h"
#include "platform/show_lock.h"
#include "platform/system.h"
#include "shell/setting_choices.h"
#include "tools/glimmer/command_line.h"
#include "tools/glimmer/commands.h"
#include "tools/glimmer/console_show_window.h"
#include "tools/glimmer/headless_show.h"
#include "watch/device_wait.h"
#include "watch/show_watchdog.h"

namespace glimmer {
namespace {

constexpr const char* kUsage =
    "Usage: glimmer show [--dir DIR] [--device PATH | --port N] [--silent]\n"
    "                    [--wait-for-devices SECONDS]\n"
    "Runs the show of the saved playlist and preferences without a window, exactly as\n"
    "the player's Start button does: every day inside the daily window it plays the\n"
    "playlist again and again; outside it, it waits with the port closed. With\n"
    "calendar.toml in the folder its nights replace the daily window ('glimmer\n"
    "calendar' lists them). What the show does goes to standard output, one a line\n"
    "('Show running', 'Playing 2 of 5: TITLE', 'Show waiting for its time window'\n"
    "with when it opens next, notices, 'Show stopped'); every event goes to show.log.\n"
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

// The audio player, made once the sound device has had its time to appear;
// the host that plays through it exists from the start.
class DeferredAudio final : public platform::AudioPlayer {
 public:
  explicit DeferredAudio(const std::unique_ptr<platform::AudioPlayer>& audio) : audio_(audio) {}
  platform::Status Open(const std::string& path) override { return audio_->Open(path); }
  int PlayState() override { return audio_->PlayState(); }
  double PositionSeconds() override { return audio_->PositionSeconds(); }
  double DurationSeconds() override { return audio_ ? audio_->DurationSeconds() : 0.0; }
  void Stop() override { audio_->Stop(); }
  void Close() override {
    if (audio_) audio_->Close();
  }
  void SetVolumePercent(int percent) override { audio_->SetVolumePercent(percent); }
  bool IsSilent() const override { return audio_->IsSilent(); }
  std::string SilentReason() const override { return audio_->SilentReason(); }
  double OutputLatencySeconds() const override { return audio_->OutputLatencySeconds(); }
  void OpenOutputAhead() override { audio_->OpenOutputAhead(); }
  bool OutputReady() override { return audio_->OutputReady(); }

 private:
  const std::unique_ptr<platform::AudioPlayer>& audio_;
};

// What the log says of a signal that closes the window, or null for one that
// stops the show. Windows has no SIGHUP: a console closed or a user logging
// off arrives as SIGTERM.
const char* ClosingSignal(int signal) {
  if (signal == SIGTERM) return "SIGTERM, as closing the window";
#ifdef SIGHUP
  if (signal == SIGHUP) return "SIGHUP, as closing the window";
#endif
  return nullptr;
}

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
  // The status goes to standard output as it changes, and never holds up the
  // show: a reader that stops reading loses lines, not songs.
#ifdef SIGPIPE
  ::signal(SIGPIPE, SIG_IGN);
#endif
  platform::LineOutput out(STDOUT_FILENO);
  ConsoleShowView console(out, /*labelled=*/false);
  console.SpeakOwnWords();
  // Watches Ctrl+C, SIGTERM and SIGHUP from here on; its messages go to
  // standard error, since nobody is there to press OK.
  ConsoleUserInterface ui;
  const std::unique_ptr<platform::Clock> clock = platform::MakeSystemClock();
  const std::unique_ptr<platform::FileStore> files = platform::MakeFileStore();
  // The port and the audio come once the devices are there; the host, which
  // writes show.log from the start, is told of them through these.
  const std::unique_ptr<platform::SerialPort> port = platform::MakeSerialPort(
      {.dataFolder = dir, .devicePath = device, .stallTimeout = std::chrono::seconds(1)});
  std::unique_ptr<platform::AudioPlayer> audio;
  DeferredAudio deferredAudio(audio);
  HeadlessShow show({.dir = dir,
                     .portOverride = portOverride,
                     .port = *port,
                     .audio = deferredAudio,
                     .ui = ui,
                     .clock = *clock,
                     .files = *files,
                     .view = console});
  if (const platform::Status& problem = show.SettingsProblem(); !problem) {
    std::fprintf(stderr, "glimmer show: %s\n", problem.message().c_str());
    return 1;
  }
  host::ShowHost& host = show.Host();
  host.Session().Subscribe([&console, &show](const playback::ShowEvent& event) {
    if (event.kind == playback::ShowEventKind::EntryStarted) {
      console.EntryStarted(event.row, show.RowCount(), event.text);
    }
  });
  // Before the show writes a line: whether it comes back from a crash.
  watch::ShowWatchdog& watchdog =
      host.KeepWatch({.dir = dir,
                      .device = device,
                      .waitForDevices = std::chrono::seconds(waitSeconds),
                      .silent = silent,
                      .serviceManager = true,
                      .notice = {}});
  watchdog.NoteAutostartFlag(show.SavedAutostart());
  bool interrupted = false;
  ui.onSignal = [&interrupted](int) { interrupted = true; };
  // A USB adapter or sound card may appear some seconds after boot; the
  // audio player looks for its device when it is made, so it comes after.
  if (!watchdog.WaitForDevices([&interrupted] { return interrupted; })) {
    watchdog.Stopping();
    return interrupted ? 0 : 1;
  }
  audio = platform::MakeAudioPlayer(platform::AudioOptions{.silent = silent});

  // Unattended shows run as a service, whose CPUSchedulingPolicy may allow it.
  const std::unique_ptr<platform::DispatchPriority> dispatchPriority =
      platform::MakeDispatchPriority();
  host.Session().SetDispatchPriority(dispatchPriority.get());

  // The phone page, when settings.toml asks for it; its server runs only at
  // the show's yield points, on this thread.
  host.onPhonePage = [&](const std::string& url) {
    ui.WakeOn(host.WakeFd(), [&host] { host.Poll(); });
    if (url.empty()) return;
    out.Write("Phone page: " + url +
              (host.PhonePageOnEveryAddress() ? " (on every address of this machine)" : ""));
  };
  host.ServePhonePage();

  ui.onSignal = [&](int signal) {
    if (!host.InShow()) return;  // waiting for the page's Start: the program ends
    if (const char* why = ClosingSignal(signal)) {
      // As closing the window: the song and the port stop at once, the
      // autostart flag stays "1", and the program ends here.
      host.CloseNow({why});
      watchdog.Stopping();
      std::fflush(nullptr);
      std::exit(0);
    }
    // As the Stop button: the show ends at its next check, and the
    // preferences say it no longer runs.
    (void)host.Stop(kInterrupted);
  };

  int status = show.Run([&ui] { return ui.Interrupted(); });
  watchdog.Stopping();
  return status;
}

}  // namespace glimmer
