#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <future>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "host/show_host.h"
#include "import/import_driver.h"
#include "platform/audio_player.h"
#include "platform/clock.h"
#include "platform/dispatch_priority.h"
#include "platform/file_store.h"
#include "platform/process_launcher.h"
#include "platform/registry.h"
#include "platform/serial_port.h"
#include "platform/show_lock.h"
#include "platform/user_interface.h"
#include "playback/line_report.h"
#include "playback/show_event.h"
#include "playlist/playlist.h"
#include "sequence_format/fade_timing.h"
#include "shell/colours.h"
#include "shell/main_view.h"
#include "shell/preferences.h"
#include "shell/winrar_locator.h"

namespace shell {

// The machine as the main window reaches it; tests give fakes.
struct MainServices {
  platform::UserInterface& ui;
  platform::Clock& clock;
  platform::SerialPort& port;
  platform::AudioPlayer& audio;
  platform::Registry& registry;
  platform::FileStore& files;
  platform::ProcessLauncher& launcher;  // runs the archiver of an import
  std::string applicationDirectory;     // no trailing separator
  WinRarLocator locateWinRar;
  // Ends the process at once (exit code), also from inside a running show,
  // which is then never returned to. Tests record the call instead; the show
  // then ends by itself because closing has cleared ShowRunning.
  std::function<void(int)> endProgram;
  // One line naming the device that COM port n stands for, for cboPort's
  // tooltip. Empty: no tooltip.
  std::function<std::string(int)> describePort;
  // Whether this machine keeps the sequencer's registration where the
  // window looks for it (Windows, a Wine prefix). Where it cannot, its
  // absence says nothing and the operator is not told of it.
  bool sequencerRegistryExists = true;
};

// What the player's main window does, for every window alike: the
// preferences, the setting lists, the playlist's buttons, the import and its
// prompts, Start and Stop, the autostart, and every text and colour the
// window shows of the show. It renders the host's state (ShowHost::State)
// through a MainView and takes the operator's actions as calls; it knows no
// toolkit.
class MainPresenter : public playback::ShowSettingsSource,
                      public playback::PlaylistSource,
                      public playback::ShowView,
                      public importer::ImportWindow {
 public:
  // `view` must outlive the presenter. The window shows the stopped state's
  // faces (Stop highlighted) from here on.
  MainPresenter(MainServices services, MainView& view);
  ~MainPresenter() override;
  MainPresenter(const MainPresenter&) = delete;
  MainPresenter& operator=(const MainPresenter&) = delete;

  // --- The operator's actions, as the window forwards them. ---

  // Start-up: the version into the caption, the window on screen, the
  // preferences, the playlist and the lists, then the autostart.
  void Load();
  // Runs the show; returns when it has ended (the window stays usable
  // through the show's yields).
  void Start();
  void Stop();
  // One whole import of a sequence archive.
  void Add();
  void Remove();
  void MoveUp();
  void MoveDown();
  // The operator picked another entry of a list.
  void ChoiceChanged(Choice list);
  // The window is being closed: the show ends at once and so does the
  // program.
  void QueryUnload();
  // Now and then (every quarter second or so) and whenever WatchWakeFd's
  // descriptor is readable: the watch, the phone page's server, changed
  // settings files, and the show's state on screen.
  void Tick();
  // cboPort's tooltip as the pointer rests on it: the device the chosen
  // number opens now (one plugged in since is named too).
  std::string PortToolTip() const;

  // Keeps watch over the show on this machine: the check before each night,
  // expected against played and the alerts of settings.toml. Before Load,
  // which may start the show.
  void KeepWatch();
  // The show's dispatch runs at this priority where the system allows it.
  void SetDispatchPriority(platform::DispatchPriority& priority) {
    host_->Session().SetDispatchPriority(&priority);
  }

  // --- What the window shows, for its tests and the tools beside it. ---

  host::ShowHost& Host() { return *host_; }
  // The phone page's address while the window serves it, else empty.
  const std::string& PhonePageAddress() const { return host_->PhonePageAddress(); }
  bool ShowRunning() const { return host_->ShowRunning(); }
  const std::string& StatusText() const { return statusText_; }
  const std::string& WinRarPath() const { return winRarPath_; }
  // Time of day (seconds) of the last keep-alive; the serial link keeps it.
  int LastKeepAliveTime() const { return host_->Session().LastKeepAliveTime(); }
  int PlaylistRowCount() const;
  playlist::PlaylistEntry PlaylistEntryAt(int row) const;
  void SelectPlaylistRow(int row);
  const sequence_format::FadeTimingTable& FadeTimings() const { return fadeTimings_; }
  playlist::Playlist& Playlist() { return *playlist_; }

  // The window's three states: every control off (an import), a show under
  // way, and stopped.
  void SetBusyState() override;
  void SetRunningState();
  void SetStoppedState() override;

  // A status text of the window's own (the import's): shown as given,
  // Start and Stop recoloured by its words ("Running", "Stopped"). The
  // show's own status follows its state.
  void SetStatus(const std::string& text) override;
  // A keep-alive: its gap into Text1, a late one counted in Text2.
  void KeepAliveGap(int seconds, bool late) override;
  // A notice on the line under the status (newest last, earlier ones in
  // its tooltip).
  void ShowNotice(const std::string& text);

  // Selections as the show needs them, read afresh at every call.
  int FrameTiming() const;
  int PortNumber() const;
  int LineRate() const;
  std::string StartTimeText() const;
  std::string EndTimeText() const;

  // --- The show's and the import's sides of the window. ---

  playback::ShowSettings CurrentSettings() const override;
  void SaveSettings() override { SavePreferences(); }
  int RowCount() const override { return PlaylistRowCount(); }
  playlist::PlaylistEntry EntryAt(int row) const override { return PlaylistEntryAt(row); }
  void SelectRow(int row) override { SelectPlaylistRow(row); }
  void ShowStarted() override;
  void ShowEnded() override;
  void StatusChanged(const std::string& text) override;
  void NoticeAdded(const std::string& text) override { ShowNotice(text); }
  void NextShowChanged(const std::string& text) override;
  void PlayingNoteChanged(const std::string& text) override;

  bool PerformBitmask() const override { return view_.PerformBitmask(); }
  std::function<void()> SequenceCompiled(const sequence_format::EventTable& table) override;
  void ShowImportingPanel(bool visible) override;
  std::string LastImportFolder() const override { return lastImportFolder_; }
  void SetLastImportFolder(const std::string& folder) override { lastImportFolder_ = folder; }
  // Rewrites preferences.txt from the current selections.
  void SavePreferences() override;
  void AddImportedSequence(const importer::ImportedSequence& sequence) override;
  void SavePlaylist() override;
  // Closing the window ends an import under way.
  bool ImportCancelled() const override { return ended_; }

 private:
  void InitializeForm();
  void FillChoiceLists(const Preferences& saved);
  void SelectDefaults();
  // What a new selection of a list does, whoever made it.
  void ChoiceTaken(Choice list);
  void Autostart();
  std::string ReadRegistryText(const std::string& keyName, const std::string& valueName);
  // Runs the show under this window's lock on the folder.
  void StartShow(const std::function<void()>& run);
  void EndProgram(int exitCode);
  // Runs an action of the operator's; no exception gets past it into the
  // window's loop.
  void Handle(const char* name, const std::function<void()>& action);
  void TellLineReport(const std::shared_future<playback::ImportLineReport>& planned);
  void LogShowEvent(const playback::ShowEvent& event) { host_->Log(event); }

  void SetEnabled(Control control, bool enabled);
  bool Enabled(Control control) const;
  // The show's state on screen as it moves on: what plays and for how long,
  // when the next show opens.
  void Render();
  void ShowCalendarState();
  void ShowStatusLine(const std::string& text);
  void ShowFaces(Control highlighted);
  // Text1 is green only while the controllers hear the show.
  void ShowLineAlive();
  void SetNextShow(const std::string& text);
  void ShowNoticeLine();
  void ShowNowPlaying();
  void ShowPhonePage(const std::string& address);

  MainServices services_;
  MainView& view_;
  PreferencesFile preferences_;
  // Held while this window's show runs: one show per folder.
  std::unique_ptr<platform::ShowLock> showLock_;
  std::string winRarPath_;
  std::string lastImportFolder_;
  std::string statusText_;
  // Filled at start-up, before any import can run. The import's compiler
  // builds the same 108 rows itself: its entry point takes no table.
  sequence_format::FadeTimingTable fadeTimings_{};
  bool ended_ = false;
  // Which of the state controls are enabled, by Control.
  std::array<bool, 12> enabled_{};
  CounterBox keepAliveBox_{"0", kWindowBackground};
  CounterBox lateCountBox_{"0", kWindowBackground};
  // Notices of the current show, oldest first, each with its time of day.
  std::vector<std::string> notices_;
  // When the show opens next, shown ahead of the notices on their line.
  std::string nextShow_;
  // The entry on show in the audio player's area, its note and its time.
  std::optional<int> playingRow_;
  std::string playingNote_;
  std::string playingTime_;
  std::optional<std::int64_t> lastRender_;
  std::unique_ptr<playlist::Playlist> playlist_;
  std::unique_ptr<host::ShowHost> host_;
  // Gone with the presenter: the hooks it left behind do nothing then.
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace shell
