#include "platform/qt/qt_user_interface.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QFileDialog>
#include <QMessageBox>
#include <memory>

#include "platform/qt/qt_file_filter.h"
#include "platform/qt/qt_text.h"

namespace platform::qt {

namespace {

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
  if (!fileName.empty()) start = QDir(start).filePath(ToQString(fileName));
  const QString chosen =
      QFileDialog::getOpenFileName(parent_, ToQString(title), start, ToQtFileFilter(filter));
  if (chosen.isEmpty()) return std::nullopt;
  return FromQString(QDir::toNativeSeparators(chosen));
}

void QtUserInterface::DoEvents() {
  QCoreApplication::processEvents();
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
