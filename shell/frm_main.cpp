#include "shell/frm_main.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QEvent>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QLoggingCategory>
#include <QPushButton>
#include <QResizeEvent>
#include <QSignalBlocker>
#include <QSocketNotifier>
#include <QTimer>
#include <algorithm>
#include <exception>
#include <tuple>
#include <utility>

#include "platform/paths.h"
#include "platform/qt/qt_text.h"
#include "playback/line_report.h"
#include "playlist/playlist_entry.h"
#include "shell/colour_code.h"
#include "shell/elided_label.h"
#include "shell/list_box_widget.h"
#include "shell/registry_value.h"
#include "shell/setting_choices.h"
#include "watch/show_watchdog.h"

namespace shell {
namespace {

// Every status text and notice, for whoever watches the window from outside
// (the end-to-end test): off unless QT_LOGGING_RULES turns it on with
// "glimmerfield.status.debug=true".
Q_LOGGING_CATEGORY(lcStatus, "glimmerfield.status", QtWarningMsg)

using platform::qt::FromQString;
using platform::qt::ToQString;

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

constexpr const char* kColourProperty = "BackColor";

// Geometry in pixels (twips / 15).
constexpr int kClientWidth = 845;
constexpr int kClientHeight = 530;
constexpr int kLeftColumnX = 8;
constexpr int kLeftColumnWidth = 449;
constexpr int kStatusWidth = 721;
// Earlier notices of the show that the notice line's tooltip keeps.
constexpr std::size_t kNoticesKept = 8;

std::string SelectedText(const QComboBox& list) {
  return list.currentIndex() < 0 ? std::string() : FromQString(list.currentText());
}

// Adds entries without the selection changes Qt would make on its own: it
// selects the first entry added to an empty list, which the design's lists
// never do (an unmatched value must fall to the list's own default).
void FillList(QComboBox& list, const std::vector<std::string>& entries) {
  const QSignalBlocker quiet(list);
  list.clear();
  for (const std::string& entry : entries) list.addItem(ToQString(entry));
  list.setCurrentIndex(-1);
}

// A user-visible selection change: writes the preferences through the
// list's handler.
void SelectMatching(QComboBox& list, const ChoiceList& choices, const std::string& saved) {
  if (const auto index = choices.IndexOf(saved)) list.setCurrentIndex(static_cast<int>(*index));
}

QLabel* MakeLabel(const char* text, QWidget* parent, const QRect& where) {
  auto* label = new QLabel(QString::fromLatin1(text), parent);
  label->setGeometry(where);
  label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  return label;
}

QComboBox* MakeList(const char* name, QWidget* parent, const QRect& where) {
  auto* list = new QComboBox(parent);
  list->setObjectName(QString::fromLatin1(name));
  list->setEditable(false);
  list->setMaxVisibleItems(16);
  list->setGeometry(where);
  return list;
}

QPushButton* MakeButton(const char* name, const char* caption, QWidget* parent,
                        const QRect& where) {
  auto* button = new QPushButton(QString::fromLatin1(caption), parent);
  button->setObjectName(QString::fromLatin1(name));
  button->setGeometry(where);
  return button;
}

QGroupBox* MakeFrame(const char* name, const char* caption, QWidget* parent, const QRect& where) {
  auto* frame = new QGroupBox(QString::fromLatin1(caption), parent);
  frame->setObjectName(QString::fromLatin1(name));
  frame->setGeometry(where);
  return frame;
}

QLineEdit* MakeCounter(const char* name, QWidget* parent, const QRect& where) {
  auto* box = new QLineEdit(QStringLiteral("0"), parent);
  box->setObjectName(QString::fromLatin1(name));
  box->setGeometry(where);
  box->setAlignment(Qt::AlignCenter);
  box->setEnabled(false);
  QFont bold = box->font();
  bold.setBold(true);
  box->setFont(bold);
  return box;
}

}  // namespace

frmMain::frmMain(Services services, QWidget* parent)
    : QWidget(parent),
      services_(std::move(services)),
      preferences_(platform::PreferencesPath(services_.applicationDirectory), services_.files,
                   services_.ui) {
  setObjectName(QStringLiteral("frmMain"));
  setWindowTitle(QStringLiteral("Glimmerfield Player (version ####)"));
  setMinimumSize(kClientWidth, kClientHeight);
  resize(kClientWidth, kClientHeight);
  QFont font(QStringLiteral("Sans Serif"));
  font.setStyleHint(QFont::SansSerif);
  font.setPointSizeF(8.25);
  setFont(font);

  BuildControls();
  listBox_ = std::make_unique<ListBoxWidget>(*lstPlayList);
  playlist_ =
      std::make_unique<playlist::Playlist>(*listBox_, services_.ui, services_.files,
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
      .fadeTimings = &fields_.FadeTimingTable,
      .canStart = [this]() -> platform::Status {
        if (!cmdShowStart->isEnabled()) {
          return platform::Status::Error("the player is busy (an import runs)");
        }
        return platform::Status::Ok();
      },
      // The show runs in the window's loop, not inside the request that
      // asked for it.
      .startAsked =
          [this] {
            QTimer::singleShot(0, this, [this] {
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
  ConnectHandlers();
  // At the show's yields, and, since the window also waits in its own loop
  // with no show, now and then from a timer there too (the watch's minute
  // before a window, the page's deadlines, the line's colour).
  // The user interface may outlive the window (the tests build several).
  services_.ui.AddYieldHook([this, alive = std::weak_ptr<bool>(alive_)] {
    if (alive.lock()) ServeAndWatch();
  });
  yieldTimer_ = new QTimer(this);
  yieldTimer_->setInterval(250);
  connect(yieldTimer_, &QTimer::timeout, this, [this] { ServeAndWatch(); });
  yieldTimer_->start();
}

frmMain::~frmMain() {
  delete serverNotifier_;
  serverNotifier_ = nullptr;
  host_.reset();
}

void frmMain::KeepWatch() {
  host_->KeepWatch({.dir = services_.applicationDirectory,
                    .device = {},
                    .waitForDevices = std::chrono::seconds(0),
                    .silent = false,
                    .serviceManager = false,
                    .notice = [this](const std::string& text) { ShowNotice(text); },
                    .calendar = nullptr});
}

void frmMain::ServeAndWatch() {
  Handle("the phone page and the watch", [this] {
    host_->Poll();
    ShowLineAlive();
  });
}

void frmMain::ShowPhonePage(const std::string& address) {
  delete serverNotifier_;
  serverNotifier_ = nullptr;
  lblPhonePage->setVisible(!address.empty());
  if (address.empty()) return;
  lblPhonePage->setText(ToQString("Phone page: " + address +
                                  (host_->PhonePageOnEveryAddress() ? " (every address)" : "")));
  if (host_->WakeFd() >= 0) {
    serverNotifier_ = new QSocketNotifier(host_->WakeFd(), QSocketNotifier::Read, this);
    connect(serverNotifier_, &QSocketNotifier::activated, this, [this] { ServeAndWatch(); });
  }
}

void frmMain::BuildControls() {
  // Left column: three frames of the same width, then the audio player.
  Frame2 = MakeFrame("Frame2", "Communication Preferences", this,
                     QRect(kLeftColumnX, 8, kLeftColumnWidth, 136));
  MakeLabel(" COM Port:", Frame2, QRect(12, 30, 110, 22));
  cboPort = MakeList("cboPort", Frame2, QRect(130, 30, 150, 22));
  MakeLabel("Baud Rate:", Frame2, QRect(12, 64, 110, 22));
  cboDataRate = MakeList("cboDataRate", Frame2, QRect(130, 64, 150, 22));
  MakeLabel("Frame Timing:", Frame2, QRect(12, 98, 110, 22));
  cboFrameComp = MakeList("cboFrameComp", Frame2, QRect(130, 98, 150, 22));
  cboFrameComp->setToolTip(
      QStringLiteral("How early each light command is sent, to make up for the controllers' "
                     "own delay: each step sends 5.8 ms earlier"));

  Frame4 =
      MakeFrame("Frame4", "Show Schedule", this, QRect(kLeftColumnX, 152, kLeftColumnWidth, 104));
  MakeLabel("Start Time:", Frame4, QRect(12, 30, 110, 22));
  cboStartTime = MakeList("cboStartTime", Frame4, QRect(130, 30, 150, 22));
  MakeLabel("End Time:", Frame4, QRect(12, 64, 110, 22));
  cboEndTime = MakeList("cboEndTime", Frame4, QRect(130, 64, 150, 22));

  Frame3 =
      MakeFrame("Frame3", "Show Control", this, QRect(kLeftColumnX, 264, kLeftColumnWidth, 120));
  cmdShowStart = MakeButton("cmdShowStart", "Start", Frame3, QRect(12, 30, 206, 70));
  cmdStop = MakeButton("cmdStop", "Stop", Frame3, QRect(231, 30, 206, 70));
  // Where a phone finds the show, while the window serves the page.
  lblPhonePage = new QLabel(Frame3);
  lblPhonePage->setObjectName(QStringLiteral("lblPhonePage"));
  lblPhonePage->setGeometry(12, 100, 425, 18);
  lblPhonePage->setTextInteractionFlags(Qt::TextSelectableByMouse);
  lblPhonePage->hide();

  // Audio plays without a visible player here; the area keeps its place.
  WindowsMedia = new QFrame(this);
  WindowsMedia->setObjectName(QStringLiteral("WindowsMedia"));
  WindowsMedia->setFrameShape(QFrame::StyledPanel);
  WindowsMedia->setFrameShadow(QFrame::Sunken);
  WindowsMedia->setGeometry(kLeftColumnX, 392, kLeftColumnWidth, 78);
  // What the show has under way, where a media player would show its song.
  // List texts end in the archive's whole path: the middle of a long line
  // goes, so title and file name both stay readable.
  lblNowPlaying = new ElidedLabel(Qt::ElideMiddle, WindowsMedia);
  lblNowPlaying->setObjectName(QStringLiteral("lblNowPlaying"));
  lblNowPlaying->setGeometry(10, 4, kLeftColumnWidth - 20, 50);
  lblNowPlaying->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  // Why the song under way plays silently, and the like.
  lblPlayingNote = new ElidedLabel(Qt::ElideRight, WindowsMedia);
  lblPlayingNote->setObjectName(QStringLiteral("lblPlayingNote"));
  lblPlayingNote->setGeometry(10, 54, kLeftColumnWidth - 20, 20);
  lblPlayingNote->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  QPalette darkRed = lblPlayingNote->palette();
  darkRed.setColor(QPalette::WindowText, QColor(160, 0, 0));
  lblPlayingNote->setPalette(darkRed);

  // Right column: the playlist, full height.
  Frame1 = MakeFrame("Frame1", "Playlist", this, QRect(465, 8, 372, 462));
  lstPlayList = new QListWidget(Frame1);
  lstPlayList->setObjectName(QStringLiteral("lstPlayList"));
  lstPlayList->setSelectionMode(QAbstractItemView::SingleSelection);
  lstPlayList->setGeometry(10, 24, 352, 348);
  cmdPlayListAdd = MakeButton("cmdPlayListAdd", "Add", Frame1, QRect(10, 382, 82, 28));
  cmdPlaylistRemove = MakeButton("cmdPlaylistRemove", "Remove", Frame1, QRect(100, 382, 82, 28));
  cmdPlayListMoveUp = MakeButton("cmdPlayListMoveUp", "Move Up", Frame1, QRect(190, 382, 82, 28));
  cmdPlaylistMoveDown =
      MakeButton("cmdPlaylistMoveDown", "Move Down", Frame1, QRect(280, 382, 82, 28));
  chkPerformBitmask = new QCheckBox(Frame1);
  chkPerformBitmask->setObjectName(QStringLiteral("chkPerformBitmask"));
  chkPerformBitmask->setGeometry(10, 426, 20, 22);
  // Ticked from the start: merging identical commands only shortens the
  // compiled table, and the box is not remembered between runs.
  chkPerformBitmask->setChecked(true);
  Label7 = new QLabel(QStringLiteral("Perfrom Bitmask Optimization When Importing "), Frame1);
  Label7->setObjectName(QStringLiteral("Label7"));
  Label7->setGeometry(32, 426, 330, 22);
  Label7->setBuddy(chkPerformBitmask);

  // Status line along the bottom, the two keep-alive counters at its right.
  lblStatus = new ElidedLabel(Qt::ElideRight, this);
  lblStatus->setObjectName(QStringLiteral("lblStatus"));
  lblStatus->setGeometry(kLeftColumnX, 478, kStatusWidth, 22);
  QFont bold = lblStatus->font();
  bold.setBold(true);
  lblStatus->setFont(bold);
  QPalette orange = lblStatus->palette();
  orange.setColor(QPalette::WindowText, QColor(255, 128, 0));
  lblStatus->setPalette(orange);
  // The program's own notices, under the status line so it keeps its texts.
  lblNotice = new ElidedLabel(Qt::ElideRight, this);
  lblNotice->setObjectName(QStringLiteral("lblNotice"));
  lblNotice->setGeometry(kLeftColumnX, 502, kClientWidth - 2 * kLeftColumnX, 22);
  lblNotice->setPalette(darkRed);
  Text1 = MakeCounter("Text1", this, QRect(737, 478, 48, 22));
  Text2 = MakeCounter("Text2", this, QRect(789, 478, 48, 22));
  SetBackColour(*Text1, kWindowBackground);
  SetBackColour(*Text2, kWindowBackground);
  Text1->setToolTip(QStringLiteral(
      "seconds since the last keep-alive: green while the controllers hear from the show at "
      "least every second, red after a gap of 2 seconds or more"));
  Text2->setToolTip(QStringLiteral(
      "keep-alives that came late (a gap of 2 seconds or more) since the player started; red "
      "once one came late"));

  SetFace(*cmdStop, kButtonHighlight);
  SetFace(*cmdShowStart, kButtonFace);

  // Shown over the middle of the window while an import runs.
  frmImporting = new QFrame(this);
  frmImporting->setObjectName(QStringLiteral("frmImporting"));
  frmImporting->setFrameShape(QFrame::Box);
  frmImporting->setAutoFillBackground(true);
  QPalette paleYellow = frmImporting->palette();
  paleYellow.setColor(QPalette::Window, QColor(255, 255, 192));
  frmImporting->setPalette(paleYellow);
  frmImporting->setGeometry((kClientWidth - 460) / 2, (kClientHeight - 110) / 2, 460, 110);
  auto* importingText = new QLabel(
      QStringLiteral("Please wait while the sequence is being imported..."), frmImporting);
  importingText->setObjectName(QStringLiteral("lblImporting"));
  importingText->setAlignment(Qt::AlignCenter);
  importingText->setWordWrap(true);
  importingText->setGeometry(10, 10, 440, 90);
  QFont large = importingText->font();
  large.setPointSizeF(13.5);
  large.setBold(true);
  importingText->setFont(large);
  QPalette red = importingText->palette();
  red.setColor(QPalette::WindowText, QColor(255, 0, 0));
  importingText->setPalette(red);
  frmImporting->hide();
}

void frmMain::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  // The room beyond the written size; never negative, so a window squeezed
  // below it (by a tiling window manager) keeps the written layout.
  const int dx = std::max(0, width() - kClientWidth);
  const int dy = std::max(0, height() - kClientHeight);
  Frame1->setGeometry(465, 8, 372 + dx, 462 + dy);
  lstPlayList->setGeometry(10, 24, 352 + dx, 348 + dy);
  const std::pair<QWidget*, int> buttons[] = {{cmdPlayListAdd, 10},
                                              {cmdPlaylistRemove, 100},
                                              {cmdPlayListMoveUp, 190},
                                              {cmdPlaylistMoveDown, 280}};
  for (const auto& [button, x] : buttons) button->setGeometry(x, 382 + dy, 82, 28);
  chkPerformBitmask->setGeometry(10, 426 + dy, 20, 22);
  Label7->setGeometry(32, 426 + dy, 330 + dx, 22);
  lblStatus->setGeometry(kLeftColumnX, 478 + dy, kStatusWidth + dx, 22);
  Text1->setGeometry(737 + dx, 478 + dy, 48, 22);
  Text2->setGeometry(789 + dx, 478 + dy, 48, 22);
  lblNotice->setGeometry(kLeftColumnX, 502 + dy, kClientWidth - 2 * kLeftColumnX + dx, 22);
  frmImporting->move((width() - frmImporting->width()) / 2,
                     (height() - frmImporting->height()) / 2);
}

void frmMain::ConnectHandlers() {
  const auto onSelection = [this](QComboBox* list, const char* name, void (frmMain::*handler)()) {
    connect(list, &QComboBox::currentIndexChanged, this,
            [this, name, handler](int) { Handle(name, [this, handler] { (this->*handler)(); }); });
  };
  onSelection(cboPort, "cboPort_Click", &frmMain::cboPort_Click);
  connect(cboPort, &QComboBox::currentIndexChanged, this,
          [this](int) { Handle("UpdatePortToolTip", [this] { UpdatePortToolTip(); }); });
  // A device plugged in after the choice is shown the next time the
  // pointer rests on the list.
  cboPort->installEventFilter(this);
  onSelection(cboDataRate, "cboDataRate_Click", &frmMain::cboDataRate_Click);
  onSelection(cboFrameComp, "cboFrameComp_Click", &frmMain::cboFrameComp_Click);
  onSelection(cboStartTime, "cboStartTime_Click", &frmMain::cboStartTime_Click);
  onSelection(cboEndTime, "cboEndTime_Click", &frmMain::cboEndTime_Click);

  const auto onClick = [this](QPushButton* button, const char* name,
                              std::function<void()> handler) {
    connect(button, &QPushButton::clicked, this,
            [this, name, handler = std::move(handler)] { Handle(name, handler); });
  };
  onClick(cmdShowStart, "cmdShowStart_Click", [this] { cmdShowStart_Click(); });
  onClick(cmdStop, "cmdStop_Click", [this] { cmdStop_Click(); });
  onClick(cmdPlayListAdd, "cmdPlayListAdd_Click", [this] { cmdPlayListAdd_Click(); });
  onClick(cmdPlaylistRemove, "cmdPlaylistRemove_Click",
          [this] { playlist_->cmdPlaylistRemove_Click(); });
  onClick(cmdPlayListMoveUp, "cmdPlayListMoveUp_Click",
          [this] { playlist_->cmdPlayListMoveUp_Click(); });
  onClick(cmdPlaylistMoveDown, "cmdPlaylistMoveDown_Click",
          [this] { playlist_->cmdPlaylistMoveDown_Click(); });
}

void frmMain::Handle(const char* name, const std::function<void()>& handler) {
  try {
    handler();
  } catch (const std::exception& e) {
    services_.ui.ShowMessage(std::string("Unexpected error in ") + name + ": " + e.what());
  } catch (...) {
    services_.ui.ShowMessage(std::string("Unexpected error in ") + name + ".");
  }
}

void frmMain::Form_Load() {
  QString caption = windowTitle();
  caption.replace(QStringLiteral("####"), QStringLiteral(GLIMMER_VERSION));
  setWindowTitle(caption);
  services_.ui.DoEvents();
  if (ended_) return;
  show();
  Handle("Form_Load", [this] { InitializeForm(); });
}

void frmMain::InitializeForm() {
  SetBusyState();

  fields_.WinRarPath =
      services_.locateWinRar([this](const std::string& key, const std::string& value) {
        return ReadRegistryText(key, value);
      });
  if (fields_.WinRarPath.empty()) {
    services_.ui.ShowMessage(kWinRarMissing);
    EndProgram(1);
    return;
  }

  if (ReadRegistryText(kSpectrumKey, kSpectrumValue).empty()) {
    services_.ui.ShowNotice(kSpectrumMissing);
  }

  listBox_->Clear();

  const Preferences saved = preferences_.Read();
  fields_.LastImportFolder = saved.lastImportFolder;

  playlist_->ResetEntries();
  services_.ui.DoEvents();
  if (ended_) return;

  FillFadeTimingTable();
  SetStatus(playback::kStoppedText);
  playlist_->LoadPlaylist();

  FillChoiceLists(saved);
  SelectDefaults();

  if (fields_.LastImportFolder.empty()) {
    fields_.LastImportFolder = "c:\\";
    SavePreferences();
  }

  SetStoppedState();

  if (auto* watchdog = host_->Watchdog()) watchdog->NoteAutostartFlag(saved.autostart);
  host_->ServePhonePage();

  if (saved.autostart == "1") Autostart();
}

void frmMain::FillFadeTimingTable() {
  fields_.FadeTimingTable = sequence_format::FillFadeTimingTable();
}

void frmMain::FillChoiceLists(const Preferences& saved) {
  // Each list is filled, then its saved value selected (one write of the
  // preferences per match, as when the user picks it).
  const std::tuple<QComboBox*, const ChoiceList&, const std::string&> lists[] = {
      {cboPort, PortChoices(), saved.port},
      {cboDataRate, DataRateChoices(), saved.dataRate},
      {cboFrameComp, FrameTimingChoices(), saved.frameTiming},
      {cboStartTime, StartTimeChoices(), saved.startTime},
      {cboEndTime, EndTimeChoices(), saved.endTime}};
  for (const auto& [list, choices, value] : lists) {
    FillList(*list, choices.entries);
    SelectMatching(*list, choices, value);
  }
}

void frmMain::SelectDefaults() {
  const std::pair<QComboBox*, const ChoiceList*> defaults[] = {
      {cboPort, &PortChoices()},
      {cboDataRate, &DataRateChoices()},
      {cboFrameComp, &FrameTimingChoices()},
      {cboStartTime, &StartTimeChoices()},
      {cboEndTime, &EndTimeChoices()}};
  for (const auto& [list, choices] : defaults) {
    if (list->currentIndex() < 0) list->setCurrentIndex(static_cast<int>(choices->defaultIndex));
  }
}

void frmMain::Autostart() {
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

std::string frmMain::ReadRegistryText(const std::string& keyName, const std::string& valueName) {
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

void frmMain::SetBusyState() {
  for (QWidget* control :
       std::initializer_list<QWidget*>{cboPort, cboDataRate, cboFrameComp, cboStartTime, cboEndTime,
                                       cmdPlayListAdd, cmdPlaylistRemove, cmdPlayListMoveUp,
                                       cmdPlaylistMoveDown, lstPlayList, cmdShowStart, cmdStop}) {
    control->setEnabled(false);
  }
}

void frmMain::SetRunningState() {
  // cboFrameComp stays as it is: the frame timing may change while a show plays.
  for (QWidget* control : std::initializer_list<QWidget*>{
           cboPort, cboDataRate, cboStartTime, cboEndTime, cmdPlayListAdd, cmdPlaylistRemove,
           cmdPlayListMoveUp, cmdPlaylistMoveDown, lstPlayList, cmdShowStart}) {
    control->setEnabled(false);
  }
  cmdStop->setEnabled(true);
  // A new show starts with no notices.
  notices_.clear();
  nextShow_.clear();
  lblNotice->SetFullText(QString());
}

void frmMain::SetStoppedState() {
  for (QWidget* control : std::initializer_list<QWidget*>{
           cboPort, cboDataRate, cboFrameComp, cboStartTime, cboEndTime, cmdPlayListAdd,
           cmdPlaylistRemove, cmdPlayListMoveUp, cmdPlaylistMoveDown, lstPlayList, cmdShowStart}) {
    control->setEnabled(true);
  }
  cmdStop->setEnabled(false);
  lblNowPlaying->SetFullText(QString());
  lblPlayingNote->SetFullText(QString());
  ShowCalendarState();
  ShowLineAlive();
}

// With calendar.toml the calendar decides when the show plays: the two lists
// step aside and say so. Either way the line under the status tells when the
// next show opens.
void frmMain::ShowCalendarState() {
  host_->ReadCalendarAgain();
  const bool inUse = host_->CalendarInUse();
  for (QComboBox* list : {cboStartTime, cboEndTime}) {
    list->setEnabled(!inUse);
    list->setToolTip(inUse ? QStringLiteral("calendar.toml decides when the show plays; "
                                            "'glimmer calendar' lists its nights")
                           : QString());
  }
  Frame4->setTitle(inUse ? QStringLiteral("Show Schedule (calendar.toml in use)")
                         : QStringLiteral("Show Schedule"));
  SetNextShow(host_->NextShowLine());
}

void frmMain::SetNextShow(const std::string& text) {
  nextShow_ = text;
  ShowNoticeLine();
}

void frmMain::SetStatus(const std::string& text) {
  // The paused text is shown on every pass; the log keeps changes.
  const bool changed = fields_.StatusText != text;
  fields_.StatusText = text;
  lblStatus->SetFullText(ToQString(fields_.StatusText));
  if (changed) qCDebug(lcStatus).noquote() << "status:" << ToQString(fields_.StatusText);
  lblStatus_Change();
  // A paused show has nothing under way until its window opens again.
  if (text.rfind("Show Paused", 0) == 0) {
    lblNowPlaying->SetFullText(QString());
    lblPlayingNote->SetFullText(QString());
  }
  ShowLineAlive();
}

void frmMain::SetPlayingNote(const std::string& text) {
  lblPlayingNote->SetFullText(ToQString(text));
}

void frmMain::ShowNotice(const std::string& text) {
  // A condition that lasts (a paused show's bad time text) is reported on
  // every pass; it is one notice, with the time it was first seen.
  const auto textOf = [](const std::string& notice) {
    return notice.substr(notice.find("  ") + 2);
  };
  if (!notices_.empty() && textOf(notices_.back()) == text) return;
  notices_.push_back(TimeOfDayText(services_.clock.SecondsOfDay()) + "  " + text);
  qCDebug(lcStatus).noquote() << "notice:" << ToQString(text);
  if (notices_.size() > kNoticesKept) notices_.erase(notices_.begin());
  ShowNoticeLine();
}

void frmMain::ShowNoticeLine() {
  QString history;
  for (auto it = notices_.rbegin(); it != notices_.rend(); ++it) {
    if (!history.isEmpty()) history += QLatin1Char('\n');
    history += ToQString(*it);
  }
  std::string line = nextShow_;
  if (!notices_.empty()) line += (line.empty() ? "" : "    ") + notices_.back();
  if (!nextShow_.empty()) {
    history = history.isEmpty() ? ToQString(nextShow_)
                                : ToQString(nextShow_) + QLatin1Char('\n') + history;
  }
  lblNotice->SetFullText(ToQString(line), history);
}

void frmMain::lblStatus_Change() {
  const std::string text = FromQString(lblStatus->FullText());
  if (text.find("Stopped") != std::string::npos) {
    SetFace(*cmdStop, kButtonHighlight);
    SetFace(*cmdShowStart, kButtonFace);
  }
  if (text.find("Running") != std::string::npos) {
    SetFace(*cmdStop, kButtonFace);
    SetFace(*cmdShowStart, kButtonHighlight);
  }
}

void frmMain::SetKeepAliveGap(int seconds) {
  Text1->setText(QString::number(seconds));
  Text1_Change();
}

void frmMain::ShowLineAlive() {
  // The last gap was fine, but nothing reaches the controllers now: paused,
  // stopped or without its port, the box does not say all is well.
  if (ColourCode(*Text1) == kGreen && !host_->LineAlive()) SetBackColour(*Text1, kWindowBackground);
}

void frmMain::Text1_Change() {
  const int gap = Text1->text().toInt();
  if (playback::IsLateKeepAlive(gap)) {
    SetBackColour(*Text1, kRed);
    Text2->setText(QString::number(Text2->text().toLongLong() + 1));
    SetBackColour(*Text2, kRed);
  } else {
    SetBackColour(*Text1, kGreen);
  }
}

void frmMain::SavePreferences() {
  // A show running on this folder in another process (glimmer show) owns
  // the settings, its autostart flag above all.
  if (!showLock_ && platform::OtherShowOnFolder(services_.applicationDirectory)) return;
  Preferences current;
  current.port = SelectedText(*cboPort);
  current.dataRate = SelectedText(*cboDataRate);
  current.frameTiming = SelectedText(*cboFrameComp);
  current.startTime = SelectedText(*cboStartTime);
  current.endTime = SelectedText(*cboEndTime);
  current.autostart = ShowRunning() ? "1" : "0";
  current.lastImportFolder = fields_.LastImportFolder;
  preferences_.Save(current);
}

void frmMain::cboPort_Click() {
  SavePreferences();
}
void frmMain::cboDataRate_Click() {
  SavePreferences();
}
void frmMain::cboFrameComp_Click() {
  SavePreferences();
}
void frmMain::cboStartTime_Click() {
  SavePreferences();
  ShowCalendarState();
}
void frmMain::cboEndTime_Click() {
  SavePreferences();
  ShowCalendarState();
}

// COM numbers are a Windows notion; the tooltip says which device this
// machine opens for the chosen one.
void frmMain::UpdatePortToolTip() {
  if (!services_.describePort || cboPort->currentIndex() < 0) {
    cboPort->setToolTip(QString());
    return;
  }
  cboPort->setToolTip(ToQString(services_.describePort(PortNumber())));
}

bool frmMain::eventFilter(QObject* watched, QEvent* event) {
  if (watched == cboPort && event->type() == QEvent::ToolTip) {
    Handle("UpdatePortToolTip", [this] { UpdatePortToolTip(); });
  }
  return QWidget::eventFilter(watched, event);
}

// The whole show runs inside this click; the window stays usable through the
// scheduler's yields, where Stop and closing the window reach it.
void frmMain::cmdShowStart_Click() {
  StartShow([this] { (void)host_->Start({"Start button"}); });
}

void frmMain::StartShow(const std::function<void()>& run) {
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

void frmMain::LogShowEvent(const playback::ShowEvent& event) {
  host_->Log(event);
}

void frmMain::cmdStop_Click() {
  (void)host_->Stop({"Stop button"});
}

void frmMain::cmdPlayListAdd_Click() {
  importer::ImportDriver driver(*this, services_.applicationDirectory, fields_.WinRarPath,
                                services_.launcher, services_.ui, services_.files,
                                fields_.FadeTimingTable);
  driver.cmdPlayListAdd_Click();
}

void frmMain::AddImportedSequence(const importer::ImportedSequence& sequence) {
  playlist_->AddPlaylistEntry(playlist::PlaylistEntry{sequence.audioPath, sequence.cachePath,
                                                      sequence.listText, playlist::kProgramVersion,
                                                      sequence.archivePath});
}

void frmMain::SavePlaylist() {
  // A failed write has told the user itself; the list stays as it is.
  (void)playlist_->SavePlaylist();
}

void frmMain::closeEvent(QCloseEvent* event) {
  Handle("Form_QueryUnload", [this] { Form_QueryUnload(); });
  event->accept();
}

void frmMain::Form_QueryUnload() {
  host_->CloseNow({"window closed"});
  services_.ui.DoEvents();
  EndProgram(0);
}

void frmMain::EndProgram(int exitCode) {
  ended_ = true;
  if (services_.endProgram) services_.endProgram(exitCode);
}

int frmMain::PlaylistRowCount() const {
  return playlist_->RowCount();
}

playlist::PlaylistEntry frmMain::PlaylistEntryAt(int row) const {
  return playlist_->EntryAtRow(row);
}

void frmMain::SelectPlaylistRow(int row) {
  playlist_->SelectRow(row);
  ShowNowPlaying(row);
}

void frmMain::ShowNowPlaying(int row) {
  const playlist::PlaylistEntry& entry = playlist_->EntryAtRow(row);
  lblNowPlaying->SetFullText(QStringLiteral("Playlist entry %1 of %2\n%3\n%4")
                                 .arg(row + 1)
                                 .arg(playlist_->RowCount())
                                 .arg(ToQString(entry.ListText), ToQString(entry.AudioPath)));
  lblPlayingNote->SetFullText(QString());
}

bool frmMain::PerformBitmask() const {
  return chkPerformBitmask->isChecked();
}

// The operator hears how the serial line will keep up while the import is
// still on screen, not when the audience sees a beat slip.
// It is worked out while the file is written, and told once it is saved.
std::function<void()> frmMain::SequenceCompiled(const sequence_format::EventTable& table) {
  return [this, planned = playback::PlanLineAside(table)] { TellLineReport(planned); };
}

void frmMain::TellLineReport(const std::shared_future<playback::ImportLineReport>& planned) {
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

void frmMain::ShowImportingPanel(bool visible) {
  frmImporting->setVisible(visible);
  if (visible) frmImporting->raise();
}

int frmMain::FrameTiming() const {
  return cboFrameComp->currentText().toInt();
}
int frmMain::PortNumber() const {
  return cboPort->currentText().toInt();
}
// The list offers only the rates the controllers take.
int frmMain::LineRate() const {
  return cboDataRate->currentText().toInt();
}
std::string frmMain::StartTimeText() const {
  return SelectedText(*cboStartTime);
}
std::string frmMain::EndTimeText() const {
  return SelectedText(*cboEndTime);
}

playback::ShowSettings frmMain::CurrentSettings() const {
  return {PortNumber(), LineRate(), FrameTiming(), StartTimeText(), EndTimeText()};
}

std::uint32_t frmMain::ColourCode(const QWidget& widget) {
  return widget.property(kColourProperty).toUInt();
}

void frmMain::SetFace(QPushButton& button, std::uint32_t code) {
  button.setProperty(kColourProperty, code);
  const QPalette palette = QApplication::palette();
  const QColor face = ColourFromCode(code, palette);
  // Fusion paints a palette colour as a gradient; a style sheet with a
  // border shows the exact face colour.
  button.setStyleSheet(
      QStringLiteral("QPushButton { background-color: %1; color: %2; border: 1px solid %3;"
                     " border-radius: 3px; padding: 2px 8px; }"
                     "QPushButton:pressed { background-color: %4; }"
                     "QPushButton:focus { border: 2px solid %5; }"
                     "QPushButton:disabled { color: %6; }")
          .arg(face.name(), palette.color(QPalette::ButtonText).name(),
               palette.color(QPalette::Dark).name(), face.darker(120).name(),
               palette.color(QPalette::Highlight).name(),
               palette.color(QPalette::Disabled, QPalette::ButtonText).name()));
}

void frmMain::SetBackColour(QLineEdit& box, std::uint32_t code) {
  box.setProperty(kColourProperty, code);
  const QPalette palette = QApplication::palette();
  // The counters are disabled but must stay readable: black on their colour.
  box.setStyleSheet(
      QStringLiteral("QLineEdit, QLineEdit:disabled { background-color: %1; color: %2;"
                     " border: 1px solid %3; }")
          .arg(ColourFromCode(code, palette).name(), palette.color(QPalette::Text).name(),
               palette.color(QPalette::Dark).name()));
}

}  // namespace shell
