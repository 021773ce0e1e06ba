#include "shell/phone_page_dialog.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QPainter>
#include <QPlainTextEdit>
#include <QVBoxLayout>
#include <QWidget>
#include <algorithm>

#include "platform/qt/qt_text.h"

namespace shell {

// The modules drawn black on white with the four light modules of quiet
// zone a camera needs, each module a whole number of pixels: scaled
// smoothly, a code blurs and readers miss it.
class QrCodeWidget : public QWidget {
 public:
  explicit QrCodeWidget(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("qrPhonePage"));
  }

  void SetModules(std::vector<std::vector<bool>> modules) {
    modules_ = std::move(modules);
    const int side = Side() * kModulePixels;
    setFixedSize(side, side);
    setVisible(!modules_.empty());
    update();
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    painter.fillRect(rect(), Qt::white);
    const int cell = std::max(1, std::min(width(), height()) / std::max(1, Side()));
    for (std::size_t y = 0; y < modules_.size(); ++y) {
      for (std::size_t x = 0; x < modules_[y].size(); ++x) {
        if (!modules_[y][x]) continue;
        painter.fillRect(static_cast<int>(x + kQuiet) * cell, static_cast<int>(y + kQuiet) * cell,
                         cell, cell, Qt::black);
      }
    }
  }

 private:
  static constexpr int kQuiet = 4;
  static constexpr int kModulePixels = 5;
  int Side() const { return static_cast<int>(modules_.size()) + 2 * kQuiet; }

  std::vector<std::vector<bool>> modules_;
};

PhonePageDialog::PhonePageDialog(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("frmPhonePage"));
  setWindowTitle(QStringLiteral("Phone Page"));
  auto* layout = new QVBoxLayout(this);
  picture_ = new QrCodeWidget(this);
  layout->addWidget(picture_, 0, Qt::AlignHCenter);
  // The link to copy as it is: a 64-digit token has no place to break, so
  // the lines break anywhere.
  link_ = new QPlainTextEdit(this);
  link_->setObjectName(QStringLiteral("txtPhonePageLink"));
  link_->setReadOnly(true);
  link_->setFrameShape(QFrame::NoFrame);
  link_->setWordWrapMode(QTextOption::WrapAnywhere);
  link_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  link_->setFixedHeight(link_->fontMetrics().lineSpacing() * 3 + 8);
  link_->viewport()->setAutoFillBackground(false);
  layout->addWidget(link_);
  note_ = new QLabel(this);
  note_->setObjectName(QStringLiteral("lblPhonePageNote"));
  note_->setTextFormat(Qt::PlainText);
  note_->setWordWrap(true);
  layout->addWidget(note_);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  layout->addWidget(buttons);
  // Wide enough for the link's 90 characters on two lines.
  setMinimumWidth(420);
}

void PhonePageDialog::SetCode(const PhonePageCode& code) {
  picture_->SetModules(code.modules);
  link_->setPlainText(platform::qt::ToQString(code.link));
  link_->setVisible(!code.link.empty());
  note_->setText(platform::qt::ToQString(code.note));
  adjustSize();
}

}  // namespace shell
