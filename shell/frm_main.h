#pragma once

#include <QWidget>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "shell/main_presenter.h"
#include "shell/main_view.h"

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
class PhonePageDialog;

// The player's window on Linux: it builds the controls in the written
// layout, shows what the presenter tells it and forwards the operator's
// clicks to it. Everything the window decides is the presenter's, shared
// with the Windows window.
class frmMain : public QWidget, public MainView {
  Q_OBJECT

 public:
  using Services = MainServices;

  explicit frmMain(Services services, QWidget* parent = nullptr);
  ~frmMain() override;

  // Start-up: version into the caption, show the window, the settings and
  // the playlist, the autostart.
  void Form_Load() { presenter_->Load(); }
  // Keeps watch over the show on this machine. Before Form_Load, which may
  // start the show.
  void KeepWatch() { presenter_->KeepWatch(); }
  // The phone page's address while the window serves it, else empty.
  const std::string& PhonePageAddress() const { return presenter_->PhonePageAddress(); }
  // The show's dispatch runs at this priority where the system allows it.
  void SetDispatchPriority(platform::DispatchPriority& priority) {
    presenter_->SetDispatchPriority(priority);
  }
  // The show with its watch and page; the window renders it.
  host::ShowHost& Host() { return presenter_->Host(); }
  MainPresenter& Presenter() { return *presenter_; }

  void SetBusyState() { presenter_->SetBusyState(); }
  void SetRunningState() { presenter_->SetRunningState(); }
  void SetStoppedState() { presenter_->SetStoppedState(); }
  void SetStatus(const std::string& text) { presenter_->SetStatus(text); }
  const std::string& StatusText() const { return presenter_->StatusText(); }
  // A keep-alive seen with this gap.
  void SetKeepAliveGap(int seconds) { presenter_->KeepAliveGap(seconds, false); }
  void ShowImportingPanel(bool visible) override;

  bool ShowRunning() const { return presenter_->ShowRunning(); }
  int LastKeepAliveTime() const { return presenter_->LastKeepAliveTime(); }
  std::string LastImportFolder() const { return presenter_->LastImportFolder(); }
  const std::string& WinRarPath() const { return presenter_->WinRarPath(); }
  int PlaylistRowCount() const { return presenter_->PlaylistRowCount(); }
  playlist::PlaylistEntry PlaylistEntryAt(int row) const {
    return presenter_->PlaylistEntryAt(row);
  }
  void SelectPlaylistRow(int row) { presenter_->SelectPlaylistRow(row); }

  // The colour code last given to a button face or text box background
  // (system colours 0x800000nn, plain colours 0x00BBGGRR).
  static std::uint32_t ColourCode(const QWidget& widget);

  // What the presenter shows.
  void SetCaption(const std::string& text) override;
  void ShowWindow() override { show(); }
  void SetEnabled(Control control, bool enabled) override;
  void SetButtonFace(Control button, std::uint32_t colour) override;
  void SetToolTip(Control control, const std::string& text) override;
  void SetChoices(Choice list, const std::vector<std::string>& entries) override;
  void SelectChoice(Choice list, int index) override;
  int SelectedChoice(Choice list) const override;
  std::string SelectedChoiceText(Choice list) const override;
  playlist::ListBox& PlaylistBox() override;
  bool PerformBitmask() const override;
  void SetStatusLine(const ColouredText& line) override;
  void SetNoticeLine(const NoticeLine& line) override;
  void SetKeepAliveBox(const CounterBox& box) override;
  void SetLateCountBox(const CounterBox& box) override;
  void SetNowPlaying(const std::string& text) override;
  void SetPlayingNote(const ColouredText& note) override;
  void SetPlayingTime(const std::string& text) override;
  void SetScheduleTitle(const std::string& text) override;
  void SetPhonePage(const std::string& text) override;
  void SetPhonePageCode(const PhonePageCode& code) override;
  void Post(std::function<void()> task) override;
  void WatchWakeFd(int fd) override;
  void Trace(const std::string& line) override;

 protected:
  void closeEvent(QCloseEvent* event) override;
  // The window keeps the written layout at its smallest size; made larger,
  // the playlist, the status line and the notice line take the room.
  void resizeEvent(QResizeEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void BuildControls();
  // Opens (or brings up) the phone page's link and QR code.
  void ShowPhonePageDialog();
  void ConnectHandlers();
  QWidget& ControlWidget(Control control) const;
  QComboBox& ListOf(Choice list) const;
  void SetFace(QPushButton& button, std::uint32_t code);
  void SetBackColour(QLineEdit& box, std::uint32_t code);

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
  QLabel* lblPlayingTime = nullptr;
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
  QLabel* lblPhonePage = nullptr;
  QPushButton* cmdPhonePage = nullptr;
  PhonePageDialog* phonePageDialog_ = nullptr;
  PhonePageCode phonePageCode_;

  std::unique_ptr<ListBoxWidget> listBox_;
  QSocketNotifier* serverNotifier_ = nullptr;
  QTimer* tickTimer_ = nullptr;
  // Last: built on the controls above, gone before them.
  std::unique_ptr<MainPresenter> presenter_;
};

}  // namespace shell
