#pragma once

#include <QDialog>

#include "shell/main_view.h"

class QLabel;
class QPlainTextEdit;

namespace shell {

class QrCodeWidget;

// The phone page's ready link and its QR code in a small window of their
// own, beside the main window (it holds nothing up): the operator points a
// phone's camera at it instead of typing the token.
class PhonePageDialog : public QDialog {
 public:
  explicit PhonePageDialog(QWidget* parent);

  // Shows `code`, also while the window is open.
  void SetCode(const PhonePageCode& code);

 private:
  QrCodeWidget* picture_ = nullptr;
  QPlainTextEdit* link_ = nullptr;
  QLabel* note_ = nullptr;
};

}  // namespace shell
