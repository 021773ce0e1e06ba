#pragma once

#include <windows.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/user_interface.h"
#include "platform/win/win_timing.h"

namespace platform::win {

// Message boxes titled "Glimmerfield", the common open-file dialog and the
// message pump of a Win32 window. The pump serves one dialog: its keyboard
// (tab order, Enter, Escape) and its accelerator table take their keys
// before the controls do.
class WinUserInterface final : public UserInterface {
 public:
  WinUserInterface();
  ~WinUserInterface() override;
  WinUserInterface(const WinUserInterface&) = delete;
  WinUserInterface& operator=(const WinUserInterface&) = delete;

  // The window that owns the message boxes and dialogs and whose keys the
  // pump translates; none until the window exists.
  void SetMainWindow(HWND window, HACCEL accelerators);

  void ShowMessage(const std::string& text) override;
  // A box of its own on a thread of its own: the caller goes on at once.
  void ShowNotice(const std::string& text) override;
  std::optional<std::string> ShowOpenDialog(const std::string& filter, const std::string& title,
                                            const std::string& initialFolder,
                                            const std::string& fileName) override;
  void DoEvents() override;
  // Sleeps on a precise timer and the thread's message queue at once: a
  // click ends the wait as soon as it arrives.
  void WaitForEvents(std::chrono::microseconds timeout) override;
  void SetHourglass(bool busy) override;
  bool Hourglass() const { return hourglass_; }

  // Runs the window's messages until WM_QUIT; returns its exit code.
  int Run();

  // Message boxes of ShowNotice still open.
  int OpenNotices() const { return openNotices_->load(); }

 private:
  // Handles the messages waiting now; false once WM_QUIT was taken.
  bool Pump();

  HWND window_ = nullptr;
  HACCEL accelerators_ = nullptr;
  PreciseWaiter waiter_;
  bool hourglass_ = false;
  bool quit_ = false;
  int exitCode_ = 0;
  // Shared with the boxes' threads, which may outlive this object.
  std::shared_ptr<std::atomic<int>> openNotices_ = std::make_shared<std::atomic<int>>(0);
};

// The program's filter text, "WAV Files (*.wav) | *.wav| MP3 Files (*.mp3) |
// *.mp3", as the open-file dialog takes it: each description and pattern
// trimmed of blanks and ended by a zero character, the whole by a second
// one. A description without a pattern gets "*.*"; an empty filter, none.
std::wstring DialogFilter(std::string_view filter);

}  // namespace platform::win
