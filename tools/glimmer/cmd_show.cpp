// glimmer show: the show of the saved playlist and preferences without a
// window, through the same scheduler and player as the Start button. For a
// player in a garage without a screen, started by a service.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "import/fade_timing.h"
#include "platform/audio_factory.h"
#include "platform/log_file.h"
#include "platform/paths.h"
#include "platform/posix/posix_file_store.h"
#include "platform/posix/realtime_priority.h"
#include "platform/posix/system_clock.h"
#include "platform/posix/termios_serial_port.h"
#include "playback/serial_link.h"
#include "playback/show_log.h"
#include "playback/show_scheduler.h"
#include "playback/show_window.h"
#include "playlist/list_box.h"
#include "playlist/playlist.h"
#include "shell/preferences.h"
#include "tools/glimmer/command_line.h"
#include "tools/glimmer/commands.h"
#include "tools/glimmer/console_show_window.h"

namespace glimmer {
namespace {

constexpr const char* kUsage =
    "Usage: glimmer show [--dir DIR] [--device PATH | --port N]\n"
    "Runs the show of the saved playlist and preferences without a window, exactly as\n"
    "the player's Start button does: every day inside the daily window it plays the\n"
    "playlist again and again; outside it, it waits with the port closed. The status\n"
    "texts go to standard output, one a line; every event goes to show.log.\n"
    "Ctrl+C (SIGINT) is the Stop button: the show will not start by itself next time.\n"
    "SIGTERM is closing the window: the autostart flag stays, so the next start of\n"
    "the player (or of this command) goes on with the show.\n\n"
    "Options:\n"
    "  --dir DIR      the folder with preferences.txt and playlist.txt (default: the\n"
    "                 player's folder, which 'glimmer --help' names)\n"
    "  --device PATH  serial device to use instead of the saved COM port\n"
    "  --port N       COM port number 1 to 16 instead of the saved one (not saved)\n"
    "  --help         this text\n\n"
    "Exit status: 0 after a stop, 1 when the playlist is empty or the port cannot be\n"
    "opened (with a message on standard error), or on a mistake in the arguments.\n";

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
// for the lists, status texts go to standard output. The settings and the
// playlist come once the console (which reports their problems) exists.
class HeadlessShowWindow final : public playback::ShowWindow {
 public:
  explicit HeadlessShowWindow(playback::ShowLog& log) : log_(log) {}

  void Attach(shell::PreferencesFile& preferences, playlist::Playlist& playlist,
              shell::Preferences settings, int portOverride) {
    preferences_ = &preferences;
    playlist_ = &playlist;
    settings_ = std::move(settings);
    portOverride_ = portOverride;
  }

  bool ShowRunning() const override { return running_; }
  void SetShowRunning(bool running) override { running_ = running; }
  const importer::FadeTimingTable& FadeTimings() const override { return fadeTimings_; }
  int FrameTiming() const override { return std::atoi(settings_.frameTiming.c_str()); }
  int PortNumber() const override {
    return portOverride_ > 0 ? portOverride_ : std::atoi(settings_.port.c_str());
  }
  std::string DataRateText() const override { return settings_.dataRate; }
  std::string StartTimeText() const override { return settings_.startTime; }
  std::string EndTimeText() const override { return settings_.endTime; }

  void SetStatus(const std::string& text) override { Print(text); }
  void SetPlayingNote(const std::string& text) override { Print(text); }
  void ShowNotice(const std::string& text) override { Print(text); }
  void SetKeepAliveGap(int) override {}
  void SetRunningState() override {}
  void SetStoppedState() override {}
  // As the window writes it: its settings, the autostart flag following
  // ShowRunning. A port given on the command line is not saved.
  void SavePreferences() override {
    shell::Preferences current = settings_;
    current.autostart = running_ ? "1" : "0";
    preferences_->Save(current);
  }

  int PlaylistRowCount() const override { return playlist_->RowCount(); }
  playlist::PlaylistEntry PlaylistEntryAt(int row) const override {
    return playlist_->EntryAtRow(row);
  }
  void SelectPlaylistRow(int row) override { playlist_->SelectRow(row); }
  void LogShowEvent(const std::string& event) override { log_.Write(event); }

 private:
  static void Print(const std::string& text) {
    std::printf("%s\n", text.c_str());
    std::fflush(stdout);
  }

  playback::ShowLog& log_;
  shell::PreferencesFile* preferences_ = nullptr;
  playlist::Playlist* playlist_ = nullptr;
  shell::Preferences settings_;
  int portOverride_ = 0;
  const importer::FadeTimingTable fadeTimings_ = importer::FillFadeTimingTable();
  bool running_ = false;
};

}  // namespace

int RunShow(const std::vector<std::string>& args) {
  std::string dir;
  std::string device;
  int portOverride = 0;
  CLI::App app;
  app.add_option("--dir", dir);
  CLI::Option* deviceOption = app.add_option("--device", device);
  app.add_option("--port", portOverride)->check(WholeNumberIn(1, 16))->excludes(deviceOption);
  if (auto ended = ParseArguments(app, "show", kUsage, args)) return *ended;

  if (dir.empty()) dir = platform::CurrentProgramFolders().data;
  if (const platform::Status made = platform::MakeDataFolder(dir); !made) {
    std::fprintf(stderr, "glimmer show: %s\n", made.message().c_str());
    return 1;
  }

  std::unique_ptr<platform::LogFile> logFile = platform::MakeLogFile(dir + "/show.log");
  playback::ShowLog log(*logFile, platform::LocalDateTime, [](const std::string& why) {
    std::fprintf(stderr, "glimmer show: %s; the show goes on without it\n", why.c_str());
  });

  HeadlessShowWindow window(log);
  // Watches Ctrl+C and SIGTERM from here on; its messages go to standard
  // error, since nobody is there to press OK.
  ConsoleUserInterface ui(window);
  platform::PosixFileStore files;
  shell::PreferencesFile preferences(dir + "/preferences.txt", files, ui);
  preferences.OnRefusedWrite(
      [&log](const std::string& why) { log.Write(playback::show_event::SettingsNotSaved(why)); });
  PlaylistRows rows;
  playlist::Playlist playlist(rows, ui, files, dir + "/playlist.txt");
  playlist.OnRefusedWrite(
      [&log](const std::string& why) { log.Write(playback::show_event::PlaylistNotSaved(why)); });
  playlist.ResetEntries();
  playlist.LoadPlaylist();
  window.Attach(preferences, playlist, shell::SelectedChoices(preferences.Read()), portOverride);

  platform::SystemClock clock;
  platform::TermiosSerialPort port(
      {.applicationDirectory = dir, .devicePath = device, .stallTimeout = std::chrono::seconds(1)});
  std::unique_ptr<platform::AudioPlayer> audio = platform::MakeAudioPlayer();
  playback::SerialLink link(port, window, ui, clock);
  playback::ShowScheduler scheduler(window, link, *audio, ui, clock);
  // Unattended shows run as a service, whose CPUSchedulingPolicy may allow it.
  platform::RealtimePriority dispatchPriority;
  scheduler.SetDispatchPriority(&dispatchPriority);

  ui.onSignal = [&](int signal) {
    if (signal == SIGTERM) {
      // As closing the window: the song and the port stop at once, the
      // autostart flag stays "1", and the program ends here.
      window.SetShowRunning(false);
      log.Write(playback::show_event::ShowStopped("SIGTERM, as closing the window"));
      if (audio->PlayState() != platform::kPlayStateStopped) audio->Stop();
      audio->Close();
      if (link.IsPortOpen()) link.ClosePort();
      std::fflush(nullptr);
      std::exit(0);
    }
    // As the Stop button: the show ends at its next check, and the
    // preferences say it no longer runs.
    window.SetShowRunning(false);
    window.SavePreferences();
    log.Write(playback::show_event::ShowStopped("SIGINT, as the Stop button"));
  };

  log.Write(playback::show_event::ShowStarted("glimmer show"));
  scheduler.cmdShowStart_Click();
  // Only Stop clears ShowRunning: a show that ended with it still set ended
  // by itself (an empty playlist, a port that would not open), and the
  // scheduler has said why.
  return window.ShowRunning() ? 1 : 0;
}

}  // namespace glimmer
