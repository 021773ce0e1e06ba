#pragma once

#include <QWidget>
#include <cstdint>
#include <functional>
#include <future>
#include <memory>
#include <string>
#include <vector>

#include "host/show_host.h"
#include "import/import_driver.h"
#include "platform/audio_player.h"
#include "platform/clock.h"
#include "platform/file_store.h"
#include "platform/log_file.h"
#include "platform/process_launcher.h"
#include "platform/registry.h"
#include "platform/serial_port.h"
#include "platform/show_lock.h"
#include "platform/user_interface.h"
#include "playback/line_report.h"
#include "playback/show_event.h"
#include "playback/show_log.h"
#include "playback/show_scheduler.h"
#include "playlist/playlist.h"
#include "sequence_format/fade_timing.h"
#include "shell/preferences.h"
#include "shell/winrar_locator.h"

class QCheckBox;
class QCloseEvent;
class QComboBox;
class QEvent;
class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QSocketNotifier;
class QTimer;

namespace shell {

class ElidedLabel;
class ListBoxWidget;

// The one window of the player. It owns every control and every piece of
// long-lived state, and reaches the outside only through the platform objects
// it is given, so tests build it with fakes. The show and the import see it
// through their narrow views of the window.
class frmMain : public QWidget,
                public playback::ShowSettingsSource,
                public playback::PlaylistSource,
                public playback::ShowView,
                public importer::ImportWindow {
  Q_OBJECT

 public:
  struct Services {
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
  };

  explicit frmMain(Services services, QWidget* parent = nullptr);
  ~frmMain() override;

  // Start-up: version into the caption, show the window, InitializeForm.
  void Form_Load();
  // Keeps watch over the show on this machine: the check before each night,
  // expected against played and the alerts of settings.toml. Before
  // Form_Load, which may start the show.
  void KeepWatch();
  // The phone page's address while the window serves it, else empty.
  const std::string& PhonePageAddress() const { return host_->PhonePageAddress(); }

  // The show's dispatch runs at this priority where the system allows it.
  void SetDispatchPriority(platform::DispatchPriority& priority) {
    host_->Session().SetDispatchPriority(&priority);
  }
  // The show with its watch and page; the window renders it.
  host::ShowHost& Host() { return *host_; }

  void SetBusyState() override;
  void SetRunningState();
  void SetStoppedState() override;

  // Sets StatusText, shows it in lblStatus and recolours Start and Stop.
  void SetStatus(const std::string& text) override;
  // The program's own additions, shown where they do not replace the status
  // text: the playing note in the audio player's area, notices on the line
  // under the status line (newest last, earlier ones in its tooltip).
  void SetPlayingNote(const std::string& text);
  void ShowNotice(const std::string& text);
  // "Next show: ..." ahead of the notices on their line; empty: none.
  void SetNextShow(const std::string& text);
  const std::string& StatusText() const { return fields_.StatusText; }

  // Rewrites preferences.txt from the current selections.
  void SavePreferences() override;

  // Runs the show; returns when it has ended.
  void cmdShowStart_Click();
  void cmdStop_Click();
  // Runs one whole import of a sequence archive.
  void cmdPlayListAdd_Click();

  // Shows a keep-alive gap in Text1. Every call counts as a change, also the
  // same gap twice in a row: each late keep-alive is one more in Text2.
  void SetKeepAliveGap(int seconds);

  // Selections as the show needs them, read afresh at every call.
  int FrameTiming() const;
  int PortNumber() const;
  int LineRate() const;
  std::string StartTimeText() const;
  std::string EndTimeText() const;

  bool ShowRunning() const { return host_->ShowRunning(); }
  // Time of day (seconds) of the last keep-alive; the serial link keeps it.
  int LastKeepAliveTime() const { return host_->Session().LastKeepAliveTime(); }
  std::string LastImportFolder() const override { return fields_.LastImportFolder; }
  void SetLastImportFolder(const std::string& folder) override {
    fields_.LastImportFolder = folder;
  }
  const std::string& WinRarPath() const { return fields_.WinRarPath; }

  int PlaylistRowCount() const;
  playlist::PlaylistEntry PlaylistEntryAt(int row) const;
  const sequence_format::FadeTimingTable& FadeTimings() const { return fields_.FadeTimingTable; }
  void SelectPlaylistRow(int row);
  void LogShowEvent(const playback::ShowEvent& event);

  // The show's side of the window: the lists as one value, the playlist,
  // and what the show tells it.
  playback::ShowSettings CurrentSettings() const override;
  void SaveSettings() override { SavePreferences(); }
  int RowCount() const override { return PlaylistRowCount(); }
  playlist::PlaylistEntry EntryAt(int row) const override { return PlaylistEntryAt(row); }
  void SelectRow(int row) override { SelectPlaylistRow(row); }
  void ShowStarted() override { SetRunningState(); }
  void ShowEnded() override { SetStoppedState(); }
  void StatusChanged(const std::string& text) override { SetStatus(text); }
  void NoticeAdded(const std::string& text) override { ShowNotice(text); }
  void NextShowChanged(const std::string& text) override { SetNextShow(text); }
  void PlayingNoteChanged(const std::string& text) override { SetPlayingNote(text); }
  void KeepAliveGap(int seconds, bool) override { SetKeepAliveGap(seconds); }

  bool PerformBitmask() const override;
  std::function<void()> SequenceCompiled(const sequence_format::EventTable& table) override;
  void ShowImportingPanel(bool visible) override;

  void AddImportedSequence(const importer::ImportedSequence& sequence) override;
  void SavePlaylist() override;
  // Closing the window ends an import under way.
  bool ImportCancelled() const override { return ended_; }
  // The message box is gone by morning; show.log keeps why.
  void ImportFailed(const std::string& archivePath, const std::string& why) override {
    LogShowEvent(playback::show_event::ImportFailed(archivePath, why));
  }
  playlist::Playlist& Playlist() { return *playlist_; }
  platform::UserInterface& UI() { return services_.ui; }
  platform::Clock& Clock() { return services_.clock; }
  platform::SerialPort& Port() { return services_.port; }
  platform::AudioPlayer& Audio() { return services_.audio; }
  const std::string& ApplicationDirectory() const { return services_.applicationDirectory; }

  // The colour code last given to a button face or text box background
  // (system colours 0x800000nn, plain colours 0x00BBGGRR).
  static std::uint32_t ColourCode(const QWidget& widget);

 protected:
  void closeEvent(QCloseEvent* event) override;
  // The window keeps the written layout at its smallest size; made larger,
  // the playlist, the status line and the notice line take the room.
  void resizeEvent(QResizeEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void TellLineReport(const std::shared_future<playback::ImportLineReport>& planned);
  void BuildControls();
  void ConnectHandlers();

  void InitializeForm();
  void FillFadeTimingTable();
  void FillChoiceLists(const Preferences& saved);
  void SelectDefaults();
  void Autostart();
  std::string ReadRegistryText(const std::string& keyName, const std::string& valueName);

  void ShowCalendarState();
  // Runs the show for `who` under this window's lock on the folder.
  void StartShow(const std::function<void()>& run);
  // Text1 is green only while the controllers hear the show.
  void ShowLineAlive();
  void ShowNoticeLine();
  void lblStatus_Change();
  void Text1_Change();
  void Form_QueryUnload();
  void cboPort_Click();
  void UpdatePortToolTip();
  void ShowNowPlaying(int row);
  void cboDataRate_Click();
  void cboFrameComp_Click();
  void cboStartTime_Click();
  void cboEndTime_Click();

  void EndProgram(int exitCode);
  // Shows where the phone page is served (empty: it is not).
  void ShowPhonePage(const std::string& address);
  // The page's server and the watch, run from the window's event loop
  // (also inside a running show, whose yields handle the window's events).
  void ServeAndWatch();
  void SetFace(QPushButton& button, std::uint32_t code);
  void SetBackColour(QLineEdit& box, std::uint32_t code);
  // Runs an event handler; no exception gets past it into Qt.
  void Handle(const char* name, const std::function<void()>& handler);

  Services services_;
  PreferencesFile preferences_;
  // Held while this window's show runs: one show per folder.
  std::unique_ptr<platform::ShowLock> showLock_;

  // Long-lived state of the window, under the names the design gives it.
  struct Fields {
    std::string WinRarPath;
    std::string LastImportFolder;
    std::string StatusText;
    // Filled at start-up, before any import can run. The import's compiler
    // builds the same 108 rows itself: its entry point takes no table.
    sequence_format::FadeTimingTable FadeTimingTable{};
  } fields_;
  bool ended_ = false;
  // Notices of the current show, oldest first, each with its time of day.
  std::vector<std::string> notices_;
  // When the show opens next, shown ahead of the notices on their line.
  std::string nextShow_;

  QGroupBox* Frame1 = nullptr;
  QGroupBox* Frame2 = nullptr;
  QGroupBox* Frame3 = nullptr;
  QGroupBox* Frame4 = nullptr;
  QComboBox* cboPort = nullptr;
  QComboBox* cboDataRate = nullptr;
  QComboBox* cboFrameComp = nullptr;
  QComboBox* cboStartTime = nullptr;
  QComboBox* cboEndTime = nullptr;
  QPushButton* cmdShowStart = nullptr;
  QPushButton* cmdStop = nullptr;
  QFrame* WindowsMedia = nullptr;
  ElidedLabel* lblNowPlaying = nullptr;
  ElidedLabel* lblPlayingNote = nullptr;
  QListWidget* lstPlayList = nullptr;
  QPushButton* cmdPlayListAdd = nullptr;
  QPushButton* cmdPlaylistRemove = nullptr;
  QPushButton* cmdPlayListMoveUp = nullptr;
  QPushButton* cmdPlaylistMoveDown = nullptr;
  QCheckBox* chkPerformBitmask = nullptr;
  QLabel* Label7 = nullptr;
  QFrame* frmImporting = nullptr;
  ElidedLabel* lblStatus = nullptr;
  ElidedLabel* lblNotice = nullptr;
  QLineEdit* Text1 = nullptr;
  QLineEdit* Text2 = nullptr;

  std::unique_ptr<ListBoxWidget> listBox_;
  std::unique_ptr<playlist::Playlist> playlist_;
  // The show, with the line to the controllers (it holds
  // LastKeepAliveTime), show.log, the watch and the phone page. Stop and
  // closing reach it here.
  std::unique_ptr<host::ShowHost> host_;
  // Gone with the window: the yield hook it left behind does nothing then.
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
  QSocketNotifier* serverNotifier_ = nullptr;
  QTimer* yieldTimer_ = nullptr;
  QLabel* lblPhonePage = nullptr;
};

}  // namespace shell
