#include "platform/win/win_user_interface.h"

#include <commdlg.h>

#include <string>
#include <thread>
#include <vector>

#include "platform/win/wide_text.h"

namespace platform::win {
namespace {

constexpr const wchar_t* kTitle = L"Glimmerfield";
// Long enough for any path Windows takes with the long-path manifest.
constexpr DWORD kPathCapacity = 32768;

std::string_view Trimmed(std::string_view text) {
  const auto first = text.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  const auto last = text.find_last_not_of(" \t");
  return text.substr(first, last - first + 1);
}

}  // namespace

std::wstring DialogFilter(std::string_view filter) {
  std::vector<std::string_view> pieces;
  for (std::size_t start = 0;;) {
    const std::size_t bar = filter.find('|', start);
    pieces.push_back(
        Trimmed(filter.substr(start, bar == std::string_view::npos ? bar : bar - start)));
    if (bar == std::string_view::npos) break;
    start = bar + 1;
  }
  std::wstring result;
  for (std::size_t i = 0; i < pieces.size(); i += 2) {
    const std::string_view description = pieces[i];
    const std::string_view pattern = i + 1 < pieces.size() ? pieces[i + 1] : std::string_view();
    if (description.empty() && pattern.empty()) continue;
    result += Widen(description.empty() ? pattern : description);
    result += L'\0';
    result += pattern.empty() ? std::wstring(L"*.*") : Widen(pattern);
    result += L'\0';
  }
  // Ended by a second zero: the first piece's own, or the only one.
  result += L'\0';
  return result;
}

WinUserInterface::WinUserInterface() = default;

WinUserInterface::~WinUserInterface() = default;

void WinUserInterface::SetMainWindow(HWND window, HACCEL accelerators) {
  window_ = window;
  accelerators_ = accelerators;
}

void WinUserInterface::ShowMessage(const std::string& text) {
  // Modal to the window, which then takes no clicks until OK.
  const HWND owner = window_ != nullptr && IsWindow(window_) ? window_ : nullptr;
  ::MessageBoxW(owner, Widen(text).c_str(), kTitle, MB_OK | MB_SETFOREGROUND);
}

void WinUserInterface::ShowNotice(const std::string& text) {
  // No owner: the box must not hold the window (nor an unattended start).
  ++*openNotices_;
  std::thread([open = openNotices_, wide = Widen(text)] {
    ::MessageBoxW(nullptr, wide.c_str(), kTitle, MB_OK | MB_SETFOREGROUND | MB_TOPMOST);
    --*open;
  }).detach();
}

std::optional<std::string> WinUserInterface::ShowOpenDialog(const std::string& filter,
                                                            const std::string& title,
                                                            const std::string& initialFolder,
                                                            const std::string& fileName) {
  const std::wstring filters = DialogFilter(filter);
  const std::wstring wideTitle = Widen(title);
  const std::wstring folder = Widen(initialFolder);
  std::wstring file = Widen(fileName);
  file.resize(kPathCapacity, L'\0');
  OPENFILENAMEW dialog{};
  dialog.lStructSize = sizeof dialog;
  dialog.hwndOwner = window_ != nullptr && IsWindow(window_) ? window_ : nullptr;
  dialog.lpstrFilter = filters.size() > 1 ? filters.c_str() : nullptr;
  dialog.nFilterIndex = 1;
  dialog.lpstrFile = file.data();
  dialog.nMaxFile = kPathCapacity;
  dialog.lpstrInitialDir = folder.empty() ? nullptr : folder.c_str();
  dialog.lpstrTitle = wideTitle.empty() ? nullptr : wideTitle.c_str();
  // The program's working folder stays where it was.
  dialog.Flags = OFN_EXPLORER | OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY |
                 OFN_NOCHANGEDIR | OFN_ENABLESIZING;
  if (!::GetOpenFileNameW(&dialog)) return std::nullopt;
  return Narrow(std::wstring_view(file.c_str()));
}

bool WinUserInterface::Pump() {
  MSG message;
  while (!quit_ && ::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    if (message.message == WM_QUIT) {
      quit_ = true;
      exitCode_ = static_cast<int>(message.wParam);
      break;
    }
    if (window_ != nullptr) {
      // Keys reach the accelerators first, then the dialog's keyboard;
      // both only for this window and its controls.
      const bool ours = message.hwnd == window_ || ::IsChild(window_, message.hwnd);
      if (ours && accelerators_ != nullptr &&
          ::TranslateAcceleratorW(window_, accelerators_, &message)) {
        continue;
      }
      if (ours && ::IsDialogMessageW(window_, &message)) continue;
    }
    ::TranslateMessage(&message);
    ::DispatchMessageW(&message);
  }
  return !quit_;
}

void WinUserInterface::DoEvents() {
  RunYieldHooks();
  Pump();
}

void WinUserInterface::WaitForEvents(std::chrono::microseconds timeout) {
  RunYieldHooks();
  if (quit_) return;
  if (timeout.count() > 0) {
    // A click ends the wait at once; otherwise it ends at the show's next
    // moment, not on the next whole millisecond after it.
    waiter_.WaitUntil(std::chrono::steady_clock::now() + timeout, [](HANDLE timer) {
      return ::MsgWaitForMultipleObjectsEx(1, &timer, INFINITE, QS_ALLINPUT, MWMO_INPUTAVAILABLE) ==
             WAIT_OBJECT_0 + 1;
    });
  }
  Pump();
}

void WinUserInterface::SetHourglass(bool busy) {
  if (busy == hourglass_) return;
  hourglass_ = busy;
  // The window answers WM_SETCURSOR from Hourglass(); this changes the
  // pointer now, before the mouse next moves.
  ::SetCursor(::LoadCursorW(nullptr, busy ? IDC_WAIT : IDC_ARROW));
}

int WinUserInterface::Run() {
  while (Pump()) {
    // Sleeps until a message arrives; yield hooks run on the window's
    // timer.
    ::WaitMessage();
  }
  return exitCode_;
}

}  // namespace platform::win
