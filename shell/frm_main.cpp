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
#include <utility>

#include "platform/qt/qt_text.h"
#include "shell/colour_code.h"
#include "shell/elided_label.h"
#include "shell/list_box_widget.h"
#include "shell/phone_page_dialog.h"

namespace shell {
namespace {

// Every status text and notice, for whoever watches the window from outside
// (the end-to-end test): off unless QT_LOGGING_RULES turns it on with
// "glimmerfield.status.debug=true".
Q_LOGGING_CATEGORY(lcStatus, "glimmerfield.status", QtWarningMsg)

using platform::qt::FromQString;
using platform::qt::ToQString;

constexpr const char* kColourProperty = "BackColor";

// Geometry in pixels (twips / 15).
constexpr int kClientWidth = 845;
constexpr int kClientHeight = 530;
constexpr int kLeftColumnX = 8;
constexpr int kLeftColumnWidth = 449;
constexpr int kStatusWidth = 721;
constexpr int kPlayingTimeWidth = 150;
// The "Please wait" panel, centred across the window's lower part: over the
// song's area and the playlist's buttons, which have nothing to show or take
// during an import, and clear of the message boxes the import may open (Qt
// centres them on the window) and of the status line.
constexpr int kImportingWidth = 460;
constexpr int kImportingHeight = 86;
constexpr int kImportingY = 388;
// How often the presenter looks at the show between its events.
constexpr int kTickMs = 250;

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

void SetTextColour(QLabel& label, std::uint32_t code) {
  QPalette palette = label.palette();
  palette.setColor(QPalette::WindowText, ColourFromCode(code, QApplication::palette()));
  label.setPalette(palette);
}

}  // namespace

frmMain::frmMain(Services services, QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("frmMain"));
  setMinimumSize(kClientWidth, kClientHeight);
  resize(kClientWidth, kClientHeight);
  QFont font(QStringLiteral("Sans Serif"));
  font.setStyleHint(QFont::SansSerif);
  font.setPointSizeF(8.25);
  setFont(font);

  BuildControls();
  listBox_ = std::make_unique<ListBoxWidget>(*lstPlayList);
  presenter_ = std::make_unique<MainPresenter>(std::move(services), *this);
  ConnectHandlers();
  // The window waits in its own loop with no show too: the watch's minute
  // before a window, the page's deadlines, the line's colour, the song's time.
  tickTimer_ = new QTimer(this);
  tickTimer_->setInterval(kTickMs);
  connect(tickTimer_, &QTimer::timeout, this, [this] { presenter_->Tick(); });
  tickTimer_->start();
}

frmMain::~frmMain() {
  delete serverNotifier_;
  serverNotifier_ = nullptr;
  presenter_.reset();
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
  // In the frame's free right-hand corner: the link a phone opens, as a QR
  // code.
  cmdPhonePage = MakeButton("cmdPhonePage", "Phone Page...", Frame2, QRect(300, 98, 137, 22));
  cmdPhonePage->setToolTip(
      QStringLiteral("The phone page's link and its QR code: a phone's camera opens the page"));

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
  lblPlayingNote->setGeometry(10, 54, kLeftColumnWidth - 20 - kPlayingTimeWidth - 4, 20);
  lblPlayingNote->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  QPalette darkRed = lblPlayingNote->palette();
  darkRed.setColor(QPalette::WindowText, QColor(160, 0, 0));
  lblPlayingNote->setPalette(darkRed);
  // How far the song under way is, at the note's right.
  lblPlayingTime = new QLabel(WindowsMedia);
  lblPlayingTime->setObjectName(QStringLiteral("lblPlayingTime"));
  lblPlayingTime->setGeometry(kLeftColumnWidth - 10 - kPlayingTimeWidth, 54, kPlayingTimeWidth, 20);
  lblPlayingTime->setAlignment(Qt::AlignRight | Qt::AlignVCenter);

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

  // Shown over the middle of the window while an import runs.
  frmImporting = new QFrame(this);
  frmImporting->setObjectName(QStringLiteral("frmImporting"));
  frmImporting->setFrameShape(QFrame::Box);
  frmImporting->setAutoFillBackground(true);
  QPalette paleYellow = frmImporting->palette();
  paleYellow.setColor(QPalette::Window, QColor(255, 255, 192));
  frmImporting->setPalette(paleYellow);
  frmImporting->setGeometry((kClientWidth - kImportingWidth) / 2, kImportingY, kImportingWidth,
                            kImportingHeight);
  auto* importingText = new QLabel(
      QStringLiteral("Please wait while the sequence is being imported..."), frmImporting);
  importingText->setObjectName(QStringLiteral("lblImporting"));
  importingText->setAlignment(Qt::AlignCenter);
  importingText->setWordWrap(true);
  importingText->setGeometry(10, 10, kImportingWidth - 20, kImportingHeight - 20);
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
  frmImporting->move((width() - frmImporting->width()) / 2, kImportingY + dy);
}

void frmMain::ConnectHandlers() {
  for (const Choice list : kChoices) {
    connect(&ListOf(list), &QComboBox::currentIndexChanged, this,
            [this, list](int) { presenter_->ChoiceChanged(list); });
  }
  // A device plugged in after the choice is shown the next time the
  // pointer rests on the list.
  cboPort->installEventFilter(this);

  const std::pair<QPushButton*, void (MainPresenter::*)()> buttons[] = {
      {cmdShowStart, &MainPresenter::Start},       {cmdStop, &MainPresenter::Stop},
      {cmdPlayListAdd, &MainPresenter::Add},       {cmdPlaylistRemove, &MainPresenter::Remove},
      {cmdPlayListMoveUp, &MainPresenter::MoveUp}, {cmdPlaylistMoveDown, &MainPresenter::MoveDown}};
  for (const auto& [button, action] : buttons) {
    connect(button, &QPushButton::clicked, this,
            [this, action = action] { ((*presenter_).*action)(); });
  }
  connect(cmdPhonePage, &QPushButton::clicked, this, [this] { ShowPhonePageDialog(); });
}

bool frmMain::eventFilter(QObject* watched, QEvent* event) {
  if (watched == cboPort && event->type() == QEvent::ToolTip) {
    cboPort->setToolTip(ToQString(presenter_->PortToolTip()));
  }
  return QWidget::eventFilter(watched, event);
}

void frmMain::closeEvent(QCloseEvent* event) {
  presenter_->QueryUnload();
  event->accept();
}

QWidget& frmMain::ControlWidget(Control control) const {
  switch (control) {
    case Control::Port:
      return *cboPort;
    case Control::DataRate:
      return *cboDataRate;
    case Control::FrameTiming:
      return *cboFrameComp;
    case Control::StartTime:
      return *cboStartTime;
    case Control::EndTime:
      return *cboEndTime;
    case Control::Add:
      return *cmdPlayListAdd;
    case Control::Remove:
      return *cmdPlaylistRemove;
    case Control::MoveUp:
      return *cmdPlayListMoveUp;
    case Control::MoveDown:
      return *cmdPlaylistMoveDown;
    case Control::Playlist:
      return *lstPlayList;
    case Control::Start:
      return *cmdShowStart;
    case Control::Stop:
      break;
  }
  return *cmdStop;
}

QComboBox& frmMain::ListOf(Choice list) const {
  return static_cast<QComboBox&>(ControlWidget(ControlOf(list)));
}

void frmMain::SetCaption(const std::string& text) {
  setWindowTitle(ToQString(text));
}

void frmMain::SetEnabled(Control control, bool enabled) {
  ControlWidget(control).setEnabled(enabled);
}

void frmMain::SetButtonFace(Control button, std::uint32_t colour) {
  SetFace(static_cast<QPushButton&>(ControlWidget(button)), colour);
}

void frmMain::SetToolTip(Control control, const std::string& text) {
  ControlWidget(control).setToolTip(ToQString(text));
}

// Adds entries without the selection changes Qt would make on its own: it
// selects the first entry added to an empty list, which the design's lists
// never do (an unmatched value must fall to the list's own default).
void frmMain::SetChoices(Choice list, const std::vector<std::string>& entries) {
  QComboBox& box = ListOf(list);
  const QSignalBlocker quiet(box);
  box.clear();
  for (const std::string& entry : entries) box.addItem(ToQString(entry));
  box.setCurrentIndex(-1);
}

void frmMain::SelectChoice(Choice list, int index) {
  QComboBox& box = ListOf(list);
  const QSignalBlocker quiet(box);
  box.setCurrentIndex(index);
}

int frmMain::SelectedChoice(Choice list) const {
  return ListOf(list).currentIndex();
}

std::string frmMain::SelectedChoiceText(Choice list) const {
  const QComboBox& box = ListOf(list);
  return box.currentIndex() < 0 ? std::string() : FromQString(box.currentText());
}

playlist::ListBox& frmMain::PlaylistBox() {
  return *listBox_;
}

bool frmMain::PerformBitmask() const {
  return chkPerformBitmask->isChecked();
}

void frmMain::SetStatusLine(const ColouredText& line) {
  lblStatus->SetFullText(ToQString(line.text));
  SetTextColour(*lblStatus, line.colour);
}

void frmMain::SetNoticeLine(const NoticeLine& line) {
  lblNotice->SetFullText(ToQString(line.text), ToQString(line.history));
  SetTextColour(*lblNotice, line.colour);
}

void frmMain::SetKeepAliveBox(const CounterBox& box) {
  Text1->setText(ToQString(box.text));
  SetBackColour(*Text1, box.background);
}

void frmMain::SetLateCountBox(const CounterBox& box) {
  Text2->setText(ToQString(box.text));
  SetBackColour(*Text2, box.background);
}

void frmMain::SetNowPlaying(const std::string& text) {
  lblNowPlaying->SetFullText(ToQString(text));
}

void frmMain::SetPlayingNote(const ColouredText& note) {
  lblPlayingNote->SetFullText(ToQString(note.text));
  SetTextColour(*lblPlayingNote, note.colour);
}

void frmMain::SetPlayingTime(const std::string& text) {
  lblPlayingTime->setText(ToQString(text));
}

void frmMain::SetScheduleTitle(const std::string& text) {
  Frame4->setTitle(ToQString(text));
}

void frmMain::SetPhonePage(const std::string& text) {
  lblPhonePage->setVisible(!text.empty());
  lblPhonePage->setText(ToQString(text));
}

void frmMain::SetPhonePageCode(const PhonePageCode& code) {
  phonePageCode_ = code;
  if (phonePageDialog_ != nullptr) phonePageDialog_->SetCode(code);
}

void frmMain::ShowPhonePageDialog() {
  if (phonePageDialog_ == nullptr) {
    phonePageDialog_ = new PhonePageDialog(this);
    phonePageDialog_->SetCode(phonePageCode_);
  }
  phonePageDialog_->show();
  phonePageDialog_->raise();
  phonePageDialog_->activateWindow();
}

void frmMain::ShowImportingPanel(bool visible) {
  frmImporting->setVisible(visible);
  if (visible) frmImporting->raise();
}

void frmMain::Post(std::function<void()> task) {
  QTimer::singleShot(0, this, std::move(task));
}

void frmMain::WatchWakeFd(int fd) {
  delete serverNotifier_;
  serverNotifier_ = nullptr;
  if (fd < 0) return;
  serverNotifier_ = new QSocketNotifier(fd, QSocketNotifier::Read, this);
  connect(serverNotifier_, &QSocketNotifier::activated, this, [this] { presenter_->Tick(); });
}

void frmMain::Trace(const std::string& line) {
  qCDebug(lcStatus).noquote() << ToQString(line);
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
