#include "shell/main_presenter.h"

#include <algorithm>
#include <exception>
#include <tuple>
#include <utility>

#include "platform/log_file.h"
#include "platform/paths.h"
#include "playback/calendar_file_window.h"
#include "playback/show_calendar.h"
#include "playback/show_scheduler.h"
#include "playlist/playlist_entry.h"
#include "shell/colours.h"
#include "shell/main_texts.h"
#include "shell/registry_value.h"
#include "shell/setting_choices.h"
#include "watch/show_watchdog.h"

namespace shell {
namespace {

constexpr const char* kSpectrumKey =
    "SOFTWARE\\Classes\\Applications\\SpectrumSequencer.exe\\shell";
constexpr const char* kSpectrumValue = "FriendlyCache";

constexpr const char* kWinRarMissing =
    "WinRAR could not be found on this machine.  You must install WinRAR with shell integration "
    "before using this application.";
constexpr const char* kSpectrumMissing =
    "Could not find Spectrum: Spectrum Suite must be installed on the machine prior to running "
    "this application.";
constexpr const char* kAutostartFailed =
    "The show couldn't autostart because the specified port is invalid.  This could be because of "
    "one of the following reasons:\r\n"
    "A) The port is in use by another application\r\n"
    "B) The port number is incorrect";
constexpr const char* kCaption = "Glimmerfield Player (version ####)";

// Earlier notices of the show that the notice line's tooltip keeps.
constexpr std::size_t kNoticesKept = 8;
// The show's time and the next show are redrawn at most this often from
// the show's yields, which come many times a second.
constexpr std::int64_t kRenderEveryMs = 200;

const ChoiceList& ChoicesOf(Choice list) {
  switch (list) {
    case Choice::Port:
      return PortChoices();
    case Choice::DataRate:
      return DataRateChoices();
    case Choice::FrameTiming:
      return FrameTimingChoices();
    case Choice::StartTime:
      return StartTimeChoices();
    case Choice::EndTime:
      break;
  }
  return EndTimeChoices();
}

// The name an error in a list's handler is reported under.
const char* HandlerName(Choice list) {
  switch (list) {
    case Choice::Port:
      return "cboPort_Click";
    case Choice::DataRate:
      return "cboDataRate_Click";
    case Choice::FrameTiming:
      return "cboFrameComp_Click";
    case Choice::StartTime:
      return "cboStartTime_Click";
    case Choice::EndTime:
      break;
  }
  return "cboEndTime_Click";
}

int WholeNumber(const std::string& text) {
  try {
    return std::stoi(text);
  } catch (const std::exception&) {
    return 0;
  }
}

std::int64_t SteadyMs(platform::Clock& clock) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(clock.SteadyNow().time_since_epoch())
      .count();
}

}  // namespace

MainPresenter::MainPresenter(MainServices services, MainView& view)
    : services_(std::move(services)),
      view_(view),
      preferences_(platform::PreferencesPath(services_.applicationDirectory), services_.files,
                   services_.ui) {
  view_.SetCaption(kCaption);
  playlist_ =
      std::make_unique<playlist::Playlist>(view_.PlaylistBox(), services_.ui, services_.files,
                                           platform::PlaylistPath(services_.applicationDirectory));
  host_ = std::make_unique<host::ShowHost>(host::ShowHostOptions{
      .dir = services_.applicationDirectory,
      .port = services_.port,
      .audio = services_.audio,
      .ui = services_.ui,
      .clock = services_.clock,
      .settings = *this,
      .playlist = *this,
      .view = *this,
      .logFile = nullptr,
      .now = platform::LocalDateTime,
      .wallNow = std::chrono::system_clock::now,
      .fadeTimings = &fadeTimings_,
      .canStart = [this]() -> platform::Status {
        if (!Enabled(Control::Start)) {
          return platform::Status::Error("the player is busy (an import runs)");
        }
        return platform::Status::Ok();
      },
      // The show runs in the window's loop, not inside the request that
      // asked for it.
      .startAsked =
          [this] {
            view_.Post([this, alive = std::weak_ptr<bool>(alive_)] {
              if (!alive.lock()) return;
              Handle("cmdShowStart_Click",
                     [this] { StartShow([this] { host_->RunAskedStart(); }); });
            });
          },
      .notice = [this](const std::string& text) { ShowNotice(text); }});
  host_->onPhonePage = [this](const std::string& address) { ShowPhonePage(address); };
  host_->onCalendarChanged = [this] {
    if (!host_->InShow()) ShowCalendarState();
  };
  preferences_.OnRefusedWrite([this](const std::string& why) {
    LogShowEvent(playback::show_event::SettingsNotSaved(why));
  });
  playlist_->OnRefusedWrite([this](const std::string& why) {
    LogShowEvent(playback::show_event::PlaylistNotSaved(why));
  });
  // At the show's yields; the view calls Tick from its own loop besides.
  // The user interface may outlive the presenter (the tests build several).
  services_.ui.AddYieldHook([this, alive = std::weak_ptr<bool>(alive_)] {
    if (alive.lock()) Tick();
  });

  for (const auto& [control, tip] : ControlToolTips()) view_.SetToolTip(control, tip);
  view_.SetKeepAliveBox(keepAliveBox_);
  view_.SetLateCountBox(lateCountBox_);
  view_.SetPhonePageCode(PhonePageCodeOf({}, false));
  ShowFaces(Control::Stop);
}

MainPresenter::~MainPresenter() {
  // The host's server and watch may still call back into the presenter.
  host_.reset();
}

void MainPresenter::KeepWatch() {
  host_->KeepWatch({.dir = services_.applicationDirectory,
                    .device = {},
                    .waitForDevices = std::chrono::seconds(0),
                    .silent = false,
                    .serviceManager = false,
                    .notice = [this](const std::string& text) { ShowNotice(text); },
                    .calendar = nullptr});
}

// --- The operator's actions. ---

void MainPresenter::Load() {
  std::string caption = kCaption;
  caption.replace(caption.find("####"), 4, GLIMMER_VERSION);
  view_.SetCaption(caption);
  services_.ui.DoEvents();
  if (ended_) return;
  view_.ShowWindow();
  Handle("Form_Load", [this] { InitializeForm(); });
}

// The whole show runs inside this call; the window stays usable through the
// scheduler's yields, where Stop and closing the window reach it.
void MainPresenter::Start() {
  Handle("cmdShowStart_Click",
         [this] { StartShow([this] { (void)host_->Start({"Start button"}); }); });
}

void MainPresenter::Stop() {
  Handle("cmdStop_Click", [this] { (void)host_->Stop({"Stop button"}); });
}

void MainPresenter::Add() {
  Handle("cmdPlayListAdd_Click", [this] {
    importer::ImportDriver driver(*this, services_.applicationDirectory, winRarPath_,
                                  services_.launcher, services_.ui, services_.files, fadeTimings_);
    driver.cmdPlayListAdd_Click();
  });
}

void MainPresenter::Remove() {
  Handle("cmdPlaylistRemove_Click", [this] { playlist_->cmdPlaylistRemove_Click(); });
}

void MainPresenter::MoveUp() {
  Handle("cmdPlayListMoveUp_Click", [this] { playlist_->cmdPlayListMoveUp_Click(); });
}

void MainPresenter::MoveDown() {
  Handle("cmdPlaylistMoveDown_Click", [this] { playlist_->cmdPlaylistMoveDown_Click(); });
}

void MainPresenter::ChoiceChanged(Choice list) {
  Handle(HandlerName(list), [this, list] { ChoiceTaken(list); });
}

void MainPresenter::ChoiceTaken(Choice list) {
  SavePreferences();
  if (list == Choice::Port) view_.SetToolTip(Control::Port, PortToolTip());
  if (list == Choice::StartTime || list == Choice::EndTime) ShowCalendarState();
}

void MainPresenter::QueryUnload() {
  Handle("Form_QueryUnload", [this] {
    host_->CloseNow({"window closed"});
    services_.ui.DoEvents();
    EndProgram(0);
  });
}

void MainPresenter::Tick() {
  Handle("the phone page and the watch", [this] {
    host_->Poll();
    ShowLineAlive();
    const std::int64_t now = SteadyMs(services_.clock);
    if (lastRender_ && now - *lastRender_ < kRenderEveryMs && now >= *lastRender_) return;
    lastRender_ = now;
    Render();
  });
}

// COM numbers are a Windows notion; the tooltip says which device this
// machine opens for the chosen one.
std::string MainPresenter::PortToolTip() const {
  if (!services_.describePort || view_.SelectedChoice(Choice::Port) < 0) return {};
  return services_.describePort(PortNumber());
}

// --- Start-up. ---

void MainPresenter::InitializeForm() {
  SetBusyState();

  winRarPath_ = services_.locateWinRar([this](const std::string& key, const std::string& value) {
    return ReadRegistryText(key, value);
  });
  if (winRarPath_.empty()) {
    services_.ui.ShowMessage(kWinRarMissing);
    EndProgram(1);
    return;
  }

  if (ReadRegistryText(kSpectrumKey, kSpectrumValue).empty()) {
    // Where the machine has no registry for it to be in, its absence says
    // nothing about the sequencer.
    if (services_.sequencerRegistryExists) services_.ui.ShowNotice(kSpectrumMissing);
  }

  view_.PlaylistBox().Clear();

  const Preferences saved = preferences_.Read();
  lastImportFolder_ = saved.lastImportFolder;

  playlist_->ResetEntries();
  services_.ui.DoEvents();
  if (ended_) return;

  fadeTimings_ = sequence_format::FillFadeTimingTable();
  ShowStatusLine(playback::kStoppedText);
  playlist_->LoadPlaylist();

  FillChoiceLists(saved);
  SelectDefaults();

  if (lastImportFolder_.empty()) {
    lastImportFolder_ = "c:\\";
    SavePreferences();
  }

  SetStoppedState();

  if (auto* watchdog = host_->Watchdog()) watchdog->NoteAutostartFlag(saved.autostart);
  host_->ServePhonePage();

  if (saved.autostart == "1") Autostart();
}

// Each list is filled, then its saved value selected: one write of the
// preferences per match, as when the operator picks it.
void MainPresenter::FillChoiceLists(const Preferences& saved) {
  const std::pair<Choice, const std::string&> lists[] = {{Choice::Port, saved.port},
                                                         {Choice::DataRate, saved.dataRate},
                                                         {Choice::FrameTiming, saved.frameTiming},
                                                         {Choice::StartTime, saved.startTime},
                                                         {Choice::EndTime, saved.endTime}};
  for (const auto& [list, value] : lists) {
    const ChoiceList& choices = ChoicesOf(list);
    view_.SetChoices(list, choices.entries);
    if (const auto index = choices.IndexOf(value)) {
      view_.SelectChoice(list, static_cast<int>(*index));
      ChoiceTaken(list);
    }
  }
}

void MainPresenter::SelectDefaults() {
  for (const Choice list : kChoices) {
    if (view_.SelectedChoice(list) >= 0) continue;
    view_.SelectChoice(list, static_cast<int>(ChoicesOf(list).defaultIndex));
    ChoiceTaken(list);
  }
}

void MainPresenter::Autostart() {
  // The show this flag stands for already runs in another process: neither
  // its port, its log nor its flag are ours to touch.
  if (const auto other = platform::OtherShowOnFolder(services_.applicationDirectory)) {
    services_.ui.ShowMessage(*other + "\r\n\r\nThis window does not start the show.");
    return;
  }
  platform::SerialPort& port = services_.port;
  port.SetPortNumber(PortNumber());
  port.SetSettings(platform::LineSettingsText(LineRate()));
  bool failed = false;
  if (const platform::Status opened = port.Open(); !opened.ok()) {
    failed = true;
    LogShowEvent(playback::show_event::ShowEnded("the autostart could not open the port: " +
                                                 opened.message()));
    services_.ui.ShowMessage(kAutostartFailed);
  }
  if (port.IsOpen()) port.Close();
  if (failed) return;
  StartShow([this] { (void)host_->Start({"autostart"}); });
}

std::string MainPresenter::ReadRegistryText(const std::string& keyName,
                                            const std::string& valueName) {
  try {
    return RegistryValueText(
        GetRegistryValue(services_.registry, platform::kHkeyLocalMachine, keyName, valueName));
  } catch (const RegistryError& e) {
    // A value of a type we cannot read is reported and then treated as
    // missing, rather than ending start-up with an unexplained failure.
    services_.ui.ShowMessage("The registry value \"" + valueName + "\" of HKEY_LOCAL_MACHINE\\" +
                             keyName + " cannot be read: " + e.Description() + " (error " +
                             std::to_string(e.Number()) + ").");
    return {};
  }
}

void MainPresenter::StartShow(const std::function<void()>& run) {
  auto lock = platform::TakeShowLock(services_.applicationDirectory, "the player window");
  if (!lock) {
    services_.ui.ShowMessage(lock.message() + "\r\n\r\nThe show was not started.");
    return;
  }
  showLock_ = std::move(lock).value();
  struct Release {
    std::unique_ptr<platform::ShowLock>& lock;
    ~Release() { lock.reset(); }
  } const release{showLock_};
  run();
}

void MainPresenter::EndProgram(int exitCode) {
  ended_ = true;
  if (services_.endProgram) services_.endProgram(exitCode);
}

void MainPresenter::Handle(const char* name, const std::function<void()>& action) {
  try {
    action();
  } catch (const std::exception& e) {
    services_.ui.ShowMessage(std::string("Unexpected error in ") + name + ": " + e.what());
  } catch (...) {
    services_.ui.ShowMessage(std::string("Unexpected error in ") + name + ".");
  }
}

// --- The window's states. ---

void MainPresenter::SetEnabled(Control control, bool enabled) {
  enabled_[static_cast<std::size_t>(control)] = enabled;
  view_.SetEnabled(control, enabled);
}

bool MainPresenter::Enabled(Control control) const {
  return enabled_[static_cast<std::size_t>(control)];
}

void MainPresenter::SetBusyState() {
  for (const Control control : kStateControls) SetEnabled(control, false);
}

void MainPresenter::SetRunningState() {
  // The frame timing stays as it is: it may change while a show plays.
  for (const Control control : kStateControls) {
    if (control != Control::FrameTiming) SetEnabled(control, control == Control::Stop);
  }
  // A new show starts with no notices.
  notices_.clear();
  nextShow_.clear();
  ShowNoticeLine();
}

void MainPresenter::SetStoppedState() {
  for (const Control control : kStateControls) SetEnabled(control, control != Control::Stop);
  playingRow_.reset();
  playingNote_.clear();
  ShowNowPlaying();
  ShowCalendarState();
  ShowLineAlive();
}

// With calendar.toml the calendar decides when the show plays: the two lists
// step aside and say so. Either way the line under the status tells when the
// next show opens.
void MainPresenter::ShowCalendarState() {
  host_->ReadCalendarAgain();
  const bool inUse = host_->CalendarInUse();
  // Only a stopped window lets the operator change them.
  const bool stopped = Enabled(Control::Start);
  for (const Control list : {Control::StartTime, Control::EndTime}) {
    SetEnabled(list, stopped && !inUse);
    view_.SetToolTip(list, inUse ? kCalendarDecidesTip : ToolTipOf(list));
  }
  view_.SetScheduleTitle(inUse ? "Show Schedule (calendar.toml in use)" : "Show Schedule");
  SetNextShow(NextShowLineOf(host_->State(), services_.clock.UnixSeconds()));
}

// --- What the show tells. ---

void MainPresenter::ShowStarted() {
  SetRunningState();
}

void MainPresenter::ShowEnded() {
  SetStoppedState();
}

void MainPresenter::StatusChanged(const std::string&) {
  // The text follows the phase the show's state already has.
  ShowStatusLine(StatusTextOf(host_->Session().State().phase));
}

void MainPresenter::NextShowChanged(const std::string&) {
  Render();
}

void MainPresenter::PlayingNoteChanged(const std::string& text) {
  playingNote_ = text;
  view_.SetPlayingNote({text, NoticeColour(text)});
}

void MainPresenter::SetStatus(const std::string& text) {
  ShowStatusLine(text);
}

void MainPresenter::ShowStatusLine(const std::string& text) {
  // The paused text is shown on every pass; the trace keeps changes.
  if (statusText_ != text) view_.Trace("status: " + text);
  statusText_ = text;
  if (const auto highlighted = HighlightedButton(text)) ShowFaces(*highlighted);
  view_.SetStatusLine({statusText_, kOrange});
  // A paused show has nothing under way until its window opens again.
  if (text.rfind("Show Paused", 0) == 0) {
    playingRow_.reset();
    playingNote_.clear();
    ShowNowPlaying();
  }
  ShowLineAlive();
}

void MainPresenter::ShowFaces(Control highlighted) {
  view_.SetButtonFace(Control::Stop, highlighted == Control::Stop ? kButtonHighlight : kButtonFace);
  view_.SetButtonFace(Control::Start,
                      highlighted == Control::Start ? kButtonHighlight : kButtonFace);
}

void MainPresenter::KeepAliveGap(int seconds, bool) {
  keepAliveBox_.text = std::to_string(seconds);
  if (playback::IsLateKeepAlive(seconds)) {
    keepAliveBox_.background = kRed;
    lateCountBox_.text = std::to_string(WholeNumber(lateCountBox_.text) + 1);
    lateCountBox_.background = kRed;
    view_.SetLateCountBox(lateCountBox_);
  } else {
    keepAliveBox_.background = kGreen;
  }
  view_.SetKeepAliveBox(keepAliveBox_);
}

void MainPresenter::ShowLineAlive() {
  // The last gap was fine, but nothing reaches the controllers now: paused,
  // stopped or without its port, the box does not say all is well.
  if (keepAliveBox_.background != kGreen || host_->LineAlive()) return;
  keepAliveBox_.background = kWindowBackground;
  view_.SetKeepAliveBox(keepAliveBox_);
}

void MainPresenter::ShowNotice(const std::string& text) {
  // A condition that lasts (a paused show's bad time text) is reported on
  // every pass; it is one notice, with the time it was first seen.
  const auto textOf = [](const std::string& notice) {
    return notice.substr(notice.find("  ") + 2);
  };
  if (!notices_.empty() && textOf(notices_.back()) == text) return;
  notices_.push_back(TimeOfDayText(services_.clock.SecondsOfDay()) + "  " + text);
  view_.Trace("notice: " + text);
  if (notices_.size() > kNoticesKept) notices_.erase(notices_.begin());
  ShowNoticeLine();
}

void MainPresenter::SetNextShow(const std::string& text) {
  if (text == nextShow_) return;
  nextShow_ = text;
  ShowNoticeLine();
}

void MainPresenter::ShowNoticeLine() {
  NoticeLine line;
  line.text = nextShow_;
  std::string latest;
  if (!notices_.empty()) {
    latest = notices_.back();
    line.text += (line.text.empty() ? "" : "    ") + latest;
  }
  for (auto it = notices_.rbegin(); it != notices_.rend(); ++it) {
    if (!line.history.empty()) line.history += '\n';
    line.history += *it;
  }
  if (!nextShow_.empty()) {
    line.history = line.history.empty() ? nextShow_ : nextShow_ + "\n" + line.history;
  }
  line.colour = NoticeColour(latest);
  view_.SetNoticeLine(line);
}

// The show's state on screen, as it moves on between its events: the
// playing entry's time, and when the next show opens.
void MainPresenter::Render() {
  // While an entry plays, its time as the player last read it: the host's
  // State would ask the audio device for its position once more.
  const playback::ShowState session = host_->Session().State();
  const bool playing = session.phase == playback::ShowState::Phase::Playing;
  SetNextShow(playing ? std::string()
                      : NextShowLineOf(host_->State(), services_.clock.UnixSeconds()));
  const std::string time =
      playing && session.playing ? PlayingTimeText(*session.playing) : std::string();
  if (time != playingTime_) {
    playingTime_ = time;
    view_.SetPlayingTime(time);
  }
}

void MainPresenter::ShowPhonePage(const std::string& address) {
  view_.SetPhonePageCode(PhonePageCodeOf(host_->PhonePageLink(), host_->PhonePageLoopbackOnly()));
  if (address.empty()) {
    view_.WatchWakeFd(-1);
    view_.SetPhonePage({});
    return;
  }
  view_.SetPhonePage("Phone page: " + address +
                     (host_->PhonePageOnEveryAddress() ? " (every address)" : ""));
  view_.WatchWakeFd(host_->WakeFd());
}

// --- The playlist. ---

int MainPresenter::PlaylistRowCount() const {
  return playlist_->RowCount();
}

playlist::PlaylistEntry MainPresenter::PlaylistEntryAt(int row) const {
  return playlist_->EntryAtRow(row);
}

void MainPresenter::SelectPlaylistRow(int row) {
  playlist_->SelectRow(row);
  playingRow_ = row;
  playingNote_.clear();
  ShowNowPlaying();
}

void MainPresenter::ShowNowPlaying() {
  if (!playingRow_) {
    view_.SetNowPlaying({});
    view_.SetPlayingNote({});
    playingTime_.clear();
    view_.SetPlayingTime({});
    return;
  }
  const playlist::PlaylistEntry& entry = playlist_->EntryAtRow(*playingRow_);
  view_.SetNowPlaying(NowPlayingText(*playingRow_, playlist_->RowCount(), entry));
  view_.SetPlayingNote({playingNote_, NoticeColour(playingNote_)});
}

// --- The import. ---

void MainPresenter::ShowImportingPanel(bool visible) {
  view_.ShowImportingPanel(visible);
}

void MainPresenter::SavePreferences() {
  // A show running on this folder in another process (glimmer show) owns
  // the settings, its autostart flag above all.
  if (!showLock_ && platform::OtherShowOnFolder(services_.applicationDirectory)) return;
  Preferences current;
  current.port = view_.SelectedChoiceText(Choice::Port);
  current.dataRate = view_.SelectedChoiceText(Choice::DataRate);
  current.frameTiming = view_.SelectedChoiceText(Choice::FrameTiming);
  current.startTime = view_.SelectedChoiceText(Choice::StartTime);
  current.endTime = view_.SelectedChoiceText(Choice::EndTime);
  current.autostart = ShowRunning() ? "1" : "0";
  current.lastImportFolder = lastImportFolder_;
  preferences_.Save(current);
}

void MainPresenter::AddImportedSequence(const importer::ImportedSequence& sequence) {
  playlist_->AddPlaylistEntry(playlist::PlaylistEntry{sequence.audioPath, sequence.cachePath,
                                                      sequence.listText, playlist::kProgramVersion,
                                                      sequence.archivePath});
}

void MainPresenter::SavePlaylist() {
  // A failed write has told the user itself; the list stays as it is.
  (void)playlist_->SavePlaylist();
}

// The operator hears how the serial line will keep up while the import is
// still on screen, not when the audience sees a beat slip.
// It is worked out while the file is written, and told once it is saved.
std::function<void()> MainPresenter::SequenceCompiled(const sequence_format::EventTable& table) {
  return [this, planned = playback::PlanLineAside(table)] { TellLineReport(planned); };
}

void MainPresenter::TellLineReport(const std::shared_future<playback::ImportLineReport>& planned) {
  try {
    const int baud = LineRate();
    const playback::ImportLineReport& report = planned.get();
    const auto warning = playback::LineWarning(report, baud, PerformBitmask());
    const std::string text = warning ? *warning : playback::LineOnTime(report, baud);
    ShowNotice(text);
    LogShowEvent(playback::show_event::ImportLine(
        text + (warning ? " (" + playback::LineFigures(report.At(baud)) + ")" : "")));
  } catch (const std::exception& error) {
    // The sequence is saved; only the forecast is missing.
    LogShowEvent(
        playback::show_event::ImportLine(std::string("no serial line report: ") + error.what()));
  }
}

// --- The settings as the show reads them. ---

int MainPresenter::FrameTiming() const {
  return WholeNumber(view_.SelectedChoiceText(Choice::FrameTiming));
}
int MainPresenter::PortNumber() const {
  return WholeNumber(view_.SelectedChoiceText(Choice::Port));
}
// The list offers only the rates the controllers take.
int MainPresenter::LineRate() const {
  return WholeNumber(view_.SelectedChoiceText(Choice::DataRate));
}
std::string MainPresenter::StartTimeText() const {
  return view_.SelectedChoiceText(Choice::StartTime);
}
std::string MainPresenter::EndTimeText() const {
  return view_.SelectedChoiceText(Choice::EndTime);
}

playback::ShowSettings MainPresenter::CurrentSettings() const {
  return {PortNumber(), LineRate(), FrameTiming(), StartTimeText(), EndTimeText()};
}

}  // namespace shell
