#pragma once

#include <QPointer>
#include <QWidget>

#include "platform/user_interface.h"

namespace platform::qt {

// Message boxes, the open dialog, yielding and the hourglass with Qt.
// Dialogs are modal to `parent` (the main window) once it is set.
class QtUserInterface final : public UserInterface {
 public:
  QtUserInterface() = default;

  void SetParent(QWidget* parent) { parent_ = parent; }

  void ShowMessage(const std::string& text) override;
  void ShowNotice(const std::string& text) override;
  std::optional<std::string> ShowOpenDialog(const std::string& filter, const std::string& title,
                                            const std::string& initialFolder,
                                            const std::string& fileName) override;
  void DoEvents() override;
  void WaitForEvents(std::chrono::microseconds timeout) override;
  void SetHourglass(bool busy) override;

 private:
  QPointer<QWidget> parent_;
  // Qt stacks override cursors; one level is all the program ever wants.
  bool hourglass_ = false;
};

}  // namespace platform::qt
