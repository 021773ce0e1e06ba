#include "platform/qt/qt_user_interface.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QFileDialog>
#include <QHeaderView>
#include <QMessageBox>
#include <QTimer>
#include <QTreeView>
#include <algorithm>
#include <memory>
#include <thread>

#include "platform/qt/qt_file_filter.h"
#include "platform/qt/qt_text.h"

namespace platform::qt {

namespace {

constexpr int kOpenDialogWidth = 860;
constexpr int kOpenDialogHeight = 480;

QMessageBox* MakeMessageBox(const std::string& text, QWidget* parent) {
  QString shown = ToQString(text);
  // Qt breaks lines at "\n" alone; a "\r" left in would show as a stray glyph.
  shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  auto* box = new QMessageBox(QMessageBox::NoIcon, QStringLiteral("Glimmerfield"), shown,
                              QMessageBox::Ok, parent);
  // Paths may hold "<" or "&": never let the text be taken for markup.
  box->setTextFormat(Qt::PlainText);
  return box;
}

}  // namespace

void QtUserInterface::ShowMessage(const std::string& text) {
  std::unique_ptr<QMessageBox> box(MakeMessageBox(text, parent_));
  box->exec();
}

void QtUserInterface::ShowNotice(const std::string& text) {
  QMessageBox* box = MakeMessageBox(text, parent_);
  box->setAttribute(Qt::WA_DeleteOnClose);
  box->setModal(false);
  box->show();
}

std::optional<std::string> QtUserInterface::ShowOpenDialog(const std::string& filter,
                                                           const std::string& title,
                                                           const std::string& initialFolder,
                                                           const std::string& fileName) {
  QString start = ToQString(initialFolder);
  // A folder remembered from another machine ("c:\") does not exist here.
  if (start.isEmpty() || !QDir(start).exists()) start = QDir::homePath();
  QFileDialog dialog(parent_, ToQString(title), start, ToQtFileFilter(filter));
  dialog.setFileMode(QFileDialog::ExistingFile);
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  if (!fileName.empty()) dialog.selectFile(ToQString(fileName));
  // Qt's own dialog opens too narrow to show the Size and Date Modified
  // columns, and those tell an operator which archive is the new one.
  dialog.resize(std::max(dialog.width(), kOpenDialogWidth),
                std::max(dialog.height(), kOpenDialogHeight));
  // Qt's own dialog (not a desktop's) keeps its columns at fixed widths:
  // the name takes the room left over, the others what they show.
  if (auto* details = dialog.findChild<QTreeView*>(QStringLiteral("treeView"))) {
    QHeaderView* header = details->header();
    header->setStretchLastSection(false);
    for (int column = 0; column < header->count(); ++column) {
      header->setSectionResizeMode(
          column, column == 0 ? QHeaderView::Stretch : QHeaderView::ResizeToContents);
    }
  }
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  const QStringList chosen = dialog.selectedFiles();
  if (chosen.isEmpty() || chosen.front().isEmpty()) return std::nullopt;
  return FromQString(QDir::toNativeSeparators(chosen.front()));
}

void QtUserInterface::DoEvents() {
  RunYieldHooks();
  QCoreApplication::processEvents();
}

void QtUserInterface::WaitForEvents(std::chrono::microseconds timeout) {
  using std::chrono::duration_cast;
  using std::chrono::milliseconds;
  RunYieldHooks();
  const milliseconds whole = duration_cast<milliseconds>(timeout);
  if (whole.count() < 1) {
    // Qt's timers count whole milliseconds; the rest of a wait is a short
    // sleep, with the window's events handled right after it.
    if (timeout.count() > 0) std::this_thread::sleep_for(timeout);
    QCoreApplication::processEvents();
    return;
  }
  // The timer only ends the wait: blocking for more events returns as soon as
  // anything (a click, a repaint, the timer) has been handled.
  QTimer timer;
  timer.setSingleShot(true);
  timer.setTimerType(Qt::PreciseTimer);
  timer.start(whole);
  QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

void QtUserInterface::SetHourglass(bool busy) {
  if (busy == hourglass_) return;
  hourglass_ = busy;
  if (busy) {
    QApplication::setOverrideCursor(Qt::WaitCursor);
  } else {
    QApplication::restoreOverrideCursor();
  }
}

}  // namespace platform::qt
