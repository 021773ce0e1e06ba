#include "watch/show_watchdog.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/statvfs.h>
#endif

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <optional>

#include "platform/audio_probe.h"
#include "platform/paths.h"
#include "platform/service_manager.h"
#include "platform/system.h"
#include "sequence_format/sequence_cache.h"
#include "watch/alert_settings.h"
#include "watch/build_day.h"
#include "watch/device_wait.h"
#include "watch/night_report.h"

namespace watch {
namespace {

// How often the yield points look at the window: the dispatch yields far
// more often than the window can change.
constexpr std::chrono::milliseconds kWindowLookEvery{250};

// The playlist's files as the check before a night reads them, on the
// worker: nothing here touches the show.
class PlaylistFiles final : public EntryProbes {
 public:
  explicit PlaylistFiles(const std::function<bool()>& keepGoing) : keepGoing_(keepGoing) {}

  platform::Status LoadCache(const std::string& path) override {
    // Checked as it is read, never loaded whole; a stop is heard between
    // reads, not after gigabytes.
    return sequence_format::CheckSequenceCache(path, keepGoing_);
  }
  platform::Status OpenSong(const std::string& path) override {
    return platform::ProbeSongFile(path);
  }
  std::uint64_t FileSize(const std::string& path) override {
    std::error_code ec;
    const auto size = std::filesystem::file_size(path, ec);
    return ec ? 0 : static_cast<std::uint64_t>(size);
  }

 private:
  const std::function<bool()>& keepGoing_;
};

}  // namespace

// The view events on their way to the console, heard by the watch too.
class ShowWatchdog::WatchedView final : public playback::ShowView {
 public:
  WatchedView(playback::ShowView& inner, ShowWatchdog& owner) : inner_(inner), owner_(owner) {}

  void ShowStarted() override {
    inner_.ShowStarted();
    owner_.started_ = true;
    owner_.watch_->Started(owner_.restarted_, owner_.WindowNow());
  }
  void ShowEnded() override { inner_.ShowEnded(); }
  void NextShowChanged(const std::string& text) override { inner_.NextShowChanged(text); }
  void StatusChanged(const std::string& text) override {
    inner_.StatusChanged(text);
    owner_.watch_->Status(text);
  }
  void NoticeAdded(const std::string& text) override { inner_.NoticeAdded(text); }
  void PlayingNoteChanged(const std::string& text) override { inner_.PlayingNoteChanged(text); }
  void KeepAliveGap(int seconds, bool late) override { inner_.KeepAliveGap(seconds, late); }

 private:
  playback::ShowView& inner_;
  ShowWatchdog& owner_;
};

// What the check before a night looks at on this machine, from the show's
// thread.
class ShowWatchdog::Probes final : public MachineProbes {
 public:
  explicit Probes(ShowWatchdog& owner) : owner_(owner) {}

  platform::Status OpenPort() override {
    if (owner_.portInUse && owner_.portInUse()) return platform::Status::Ok();
    const playback::ShowSettings settings = owner_.settings_.CurrentSettings();
    const auto port = platform::MakeSerialPort({.dataFolder = owner_.options_.dir,
                                                .devicePath = owner_.options_.device,
                                                .stallTimeout = std::chrono::seconds(1)});
    port->SetPortNumber(settings.portNumber);
    port->SetSettings(platform::LineSettingsText(settings.baud));
    platform::Status opened = port->Open();
    if (port->IsOpen()) port->Close();
    return opened;
  }
  platform::Status AudioDevice() override { return platform::ProbeAudioDevice(); }
  platform::Result<std::uint64_t> FreeBytes(const std::string& folder) override {
#ifdef _WIN32
    ULARGE_INTEGER available{};
    if (!GetDiskFreeSpaceExW(std::filesystem::path(folder).c_str(), &available, nullptr, nullptr)) {
      return platform::Result<std::uint64_t>::Error(
          folder + ": " + std::system_category().message(static_cast<int>(GetLastError())));
    }
    return static_cast<std::uint64_t>(available.QuadPart);
#else
    struct statvfs st {};
    if (::statvfs(folder.c_str(), &st) != 0) {
      return platform::Result<std::uint64_t>::Error(folder + ": " + std::strerror(errno));
    }
    return static_cast<std::uint64_t>(st.f_bavail) * st.f_frsize;
#endif
  }

 private:
  ShowWatchdog& owner_;
};

void ShowWatchdog::Heard(const playback::ShowEvent& event) {
  if (watch_) watch_->Event(event);
}

std::string ShowWatchdog::ReadLog() {
  const std::unique_ptr<platform::FileStore> files = platform::MakeFileStore();
  ShowLogText read = ReadShowLog(*files, platform::ShowLogPath(options_.dir), 1);
  // A pipe or a device at show.log would hold the show before it starts;
  // the watch goes without what the log held, and says so.
  if (!read.problem.empty()) {
    Say("The show log is not read: " + read.problem);
    return {};
  }
  return std::move(read.text);
}

ShowWatchdog::ShowWatchdog(WatchdogOptions options, platform::LogFile& logFile,
                           platform::UserInterface& ui,
                           const playback::ShowSettingsSource& settings,
                           const playback::PlaylistSource& playlist, ShowHealth* health)
    : options_(std::move(options)),
      ui_(ui),
      settings_(settings),
      playlist_(playlist),
      logFile_(logFile),
      ownLog_(logFile, platform::LocalDateTime),
      manager_(options_.serviceManager ? platform::ConnectServiceManager() : nullptr),
      time_(platform::MakeTimeSource()),
      starter_(platform::MakeChildStarter()),
      clock_(platform::MakeSystemClock()) {
  logAtStart_ = ReadLog();
  if (health != nullptr) health->Seed(logAtStart_);

  std::string command;
  const std::string settingsPath = options_.dir + "/" + kSettingsFileName;
  if (auto read = ReadAlertSettings(settingsPath); read) {
    command = read.value().command;
  } else {
    Say("Alerts are off: " + read.message());
  }
  service_ = std::make_unique<ServiceWatch>(manager_.get(), *time_);
  alerts_ = std::make_unique<AlertRunner>(
      command, *starter_, *time_,
      [this](const playback::ShowEvent& event) { ownLog_.Write(event); });
  clockWatch_ = std::make_unique<ClockWatch>(*time_, BuildDay());
  ShowWatch::Hooks hooks{.check = [this] { return NightCheck(); },
                         .readLog = [this] { return ReadLog(); },
                         .log = [this](const playback::ShowEvent& event) { ownLog_.Write(event); },
                         .notice = [this](const std::string& text) { Tell(text); },
                         .portOpen = [this] { return !portInUse || portInUse(); }};
  watch_ = std::make_unique<ShowWatch>(*alerts_, *service_, *clockWatch_, *time_, worker_,
                                       std::move(hooks), options_.silent);
}

ShowWatchdog::~ShowWatchdog() = default;

void ShowWatchdog::NoteAutostartFlag(const std::string& flag) {
  restarted_ = Restarted(flag, logAtStart_);
}

void ShowWatchdog::Tell(const std::string& text) {
  if (options_.notice) {
    options_.notice(text);
  } else {
    std::fprintf(stderr, "%s\n", text.c_str());
  }
}

void ShowWatchdog::Say(const std::string& text) {
  std::fprintf(stderr, "glimmer show: %s\n", text.c_str());
  ownLog_.Write(playback::show_event::Said(text));
}

bool ShowWatchdog::WaitForDevices(const std::function<bool()>& interrupted) {
  const playback::ShowSettings settings = settings_.CurrentSettings();
  std::vector<DeviceNeed> needs;
  const std::string serialWhat =
      options_.device.empty()
          ? "the serial adapter (COM" + std::to_string(settings.portNumber) + ")"
          : "the serial device " + options_.device;
  needs.push_back({serialWhat, [this, port = settings.portNumber] {
                     return platform::SerialDevicePresent(port, options_.dir, options_.device);
                   }});
  if (!options_.silent) {
    needs.push_back({"a sound device (or --silent)", [] { return platform::ProbeAudioDevice(); }});
  }
  const platform::Status waited =
      watch::WaitForDevices(needs, options_.waitForDevices, *time_,
                            {.pause = [this] { ui_.WaitForEvents(std::chrono::seconds(1)); },
                             .say = [this](const std::string& text) { Say(text); },
                             .onStep =
                                 [this] {
                                   service_->Status("Waiting for devices");
                                   // The manager's start-up limit must not run out while we wait.
                                   service_->StillStarting(std::chrono::seconds(30));
                                 },
                             .cancelled = interrupted});
  if (!waited) {
    // Without the line there is no show; without sound there is one, played
    // silently as the audio player does anyway, and the check before the
    // night keeps saying so.
    if (!interrupted() && needs.front().present()) {
      Say(waited.message() + "; the show plays silently until a sound device is there");
      return true;
    }
    Say(waited.message());
    // Without the line the night stays dark, and the service manager starts
    // the show again and again: the operator hears of it once each time the
    // adapter goes missing, not on every try.
    if (!interrupted() && !AlreadyAlerted(logAtStart_, alert::kCheckFailed, waited.message())) {
      alerts_->Raise(alert::kCheckFailed, waited.message());
    }
    return false;
  }
  return true;
}

playback::ShowView& ShowWatchdog::View(playback::ShowView& inner) {
  view_ = std::make_unique<WatchedView>(inner, *this);
  return *view_;
}

ShowWindowNow ShowWatchdog::WindowNow() {
  const playback::ShowSettings settings = settings_.CurrentSettings();
  ShowWindowNow now;
  const playback::ShowCalendar& calendar =
      options_.calendar != nullptr ? *options_.calendar : dailyWindow_;
  now.inside = calendar.InsideNow(settings, *clock_);
  now.secondsToOpening = calendar.SecondsToNextOpening(settings, *clock_);
  // The night the calendar gives, not the lists it has greyed out.
  const std::optional<playback::ShowNight> night = calendar.TonightOrNext(settings, *clock_);
  now.startText = night ? night->startText : settings.startTime.Text();
  now.endText = night ? night->endText : settings.endTime.Text();
  return now;
}

void ShowWatchdog::Poll() {
  if (!started_) return;
  const auto steady = time_->Steady();
  if (steady - lastWindowLook_ >= kWindowLookEvery) {
    lastWindowLook_ = steady;
    window_ = WindowNow();
  }
  watch_->Poll(window_);
  if (const std::string failed = service_->TakeFailure(); !failed.empty()) {
    ownLog_.Write(playback::show_event::Said("Service manager not told: " + failed));
  }
}

void ShowWatchdog::Stopping() {
  watch_->Stopping();
  // The service manager ends whatever is left of the show's processes once
  // it has ended: an alert raised on the way out (a check that failed just
  // before a port that would not open) must reach the command first.
  // A command that hangs holds up Ctrl+C and a shutdown only briefly, and
  // the operator hears why the wait was.
  const std::string stopped = alerts_->Drain(
      kAlertExitGrace, [] { std::this_thread::sleep_for(std::chrono::milliseconds(50)); });
  if (!stopped.empty()) Tell(stopped);
}

ShowWatch::CheckJob ShowWatchdog::NightCheck() {
  NightNeeds needs;
  for (int row = 0; row < playlist_.RowCount(); ++row) {
    const playlist::PlaylistEntry entry = playlist_.EntryAt(row);
    needs.entries.push_back({entry.ListText, entry.CachePath, entry.AudioPath});
  }
  needs.folder = options_.dir;
  needs.silentChosen = options_.silent;
  needs.logLimit = platform::kLogFileLimit;
  // Written by the worker, read here only once it is done.
  auto found = std::make_shared<std::optional<EntryFindings>>();
  ShowWatch::CheckJob job;
  job.read = [entries = needs.entries, found](const std::function<bool()>& keepGoing) {
    PlaylistFiles files(keepGoing);
    *found = CheckEntries(entries, files, keepGoing);
  };
  job.finish = [this, needs = std::move(needs), found] {
    Probes probes(*this);
    return CheckNight(needs, found->value_or(EntryFindings{}), probes, *clockWatch_);
  };
  return job;
}

}  // namespace watch
