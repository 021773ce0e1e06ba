#include "shell/win/phone_page_window.h"

#include <algorithm>
#include <stdexcept>

#include "platform/win/wide_text.h"
#include "shell/win/dialog_layout.h"
#include "shell/win/shown_text.h"

namespace shell::win {
namespace {

constexpr const wchar_t* kClassName = L"GlimmerfieldPhonePage";
// Four light modules around the code, as a camera needs them; each module
// a whole number of pixels, or the code blurs and readers miss it.
constexpr int kQuiet = 4;
constexpr int kModulePixels = 5;
constexpr int kMargin = 10;
constexpr int kTextWidth = 420;
constexpr int kButtonWidth = 82;
constexpr int kButtonHeight = 26;

}  // namespace

PhonePageWindow::PhonePageWindow(HINSTANCE instance, HWND owner) : owner_(owner) {
  WNDCLASSEXW type{};
  type.cbSize = sizeof type;
  if (!GetClassInfoExW(instance, kClassName, &type)) {
    type = {};
    type.cbSize = sizeof type;
    type.lpfnWndProc = &PhonePageWindow::WindowProc;
    type.hInstance = instance;
    type.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    type.hbrBackground = GetSysColorBrush(COLOR_BTNFACE);
    type.lpszClassName = kClassName;
    type.hIcon = reinterpret_cast<HICON>(SendMessageW(owner, WM_GETICON, ICON_BIG, 0));
    type.hIconSm = reinterpret_cast<HICON>(SendMessageW(owner, WM_GETICON, ICON_SMALL, 0));
    RegisterClassExW(&type);
  }
  window_ = CreateWindowExW(WS_EX_DLGMODALFRAME, kClassName, L"Phone Page",
                            WS_POPUP | WS_CAPTION | WS_SYSMENU, CW_USEDEFAULT, CW_USEDEFAULT, 100,
                            100, owner, nullptr, instance, this);
  if (window_ == nullptr) {
    throw std::runtime_error("the phone page window cannot be made: " +
                             platform::win::LastErrorMessage());
  }
  // Read-only, to be copied as it is; a 64-digit token has no place to
  // break, and a multi-line edit control breaks it anywhere.
  link_ = CreateWindowExW(0, L"EDIT", L"", WS_CHILD | ES_MULTILINE | ES_READONLY, 0, 0, 10, 10,
                          window_, nullptr, instance, nullptr);
  note_ = CreateWindowExW(0, L"STATIC", L"", WS_CHILD | WS_VISIBLE | SS_NOPREFIX, 0, 0, 10, 10,
                          window_, nullptr, instance, nullptr);
  close_ = CreateWindowExW(
      0, L"BUTTON", L"Close", WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON, 0, 0, 10, 10,
      window_, reinterpret_cast<HMENU>(static_cast<INT_PTR>(IDCANCEL)), instance, nullptr);
}

PhonePageWindow::~PhonePageWindow() {
  if (window_ != nullptr && IsWindow(window_)) {
    SetWindowLongPtrW(window_, GWLP_USERDATA, 0);
    DestroyWindow(window_);
  }
}

void PhonePageWindow::SetCode(const PhonePageCode& code, HFONT font, int dpi) {
  code_ = code;
  font_ = font;
  dpi_ = dpi > 0 ? dpi : kBaseDpi;
  for (HWND control : {link_, note_, close_}) {
    SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font_), FALSE);
  }
  SetWindowTextW(link_, ShownText(code.link).c_str());
  ShowWindow(link_, code.link.empty() ? SW_HIDE : SW_SHOWNA);
  SetWindowTextW(note_, ShownText(code.note).c_str());
  LayOut();
  InvalidateRect(window_, nullptr, TRUE);
}

void PhonePageWindow::Show() {
  ShowWindow(window_, SW_SHOW);
  SetForegroundWindow(window_);
}

RECT PhonePageWindow::CodeRect() const {
  if (code_.modules.empty()) return {0, 0, 0, 0};
  const int cell = Scale(kModulePixels, dpi_);
  const int side = (static_cast<int>(code_.modules.size()) + 2 * kQuiet) * cell;
  RECT client{};
  GetClientRect(window_, &client);
  const int left = (client.right - side) / 2;
  const int top = Scale(kMargin, dpi_);
  return {left, top, left + side, top + side};
}

void PhonePageWindow::LayOut() {
  const int margin = Scale(kMargin, dpi_);
  const int cell = Scale(kModulePixels, dpi_);
  const int side =
      code_.modules.empty() ? 0 : (static_cast<int>(code_.modules.size()) + 2 * kQuiet) * cell;
  const int width = std::max(side, Scale(kTextWidth, dpi_));
  TEXTMETRICW metrics{};
  const HDC dc = GetDC(window_);
  const HGDIOBJ old = SelectObject(dc, font_);
  GetTextMetricsW(dc, &metrics);
  // The note's height as it wraps.
  RECT noteRect{0, 0, width, 0};
  const std::wstring note = ShownText(code_.note);
  DrawTextW(dc, note.c_str(), -1, &noteRect, DT_CALCRECT | DT_WORDBREAK | DT_NOPREFIX);
  SelectObject(dc, old);
  ReleaseDC(window_, dc);
  const int line = metrics.tmHeight + metrics.tmExternalLeading;

  int y = margin + (side > 0 ? side + margin : 0);
  if (!code_.link.empty()) {
    MoveWindow(link_, margin, y, width, line * 3 + 4, FALSE);
    y += line * 3 + 4 + margin;
  }
  MoveWindow(note_, margin, y, width, noteRect.bottom, FALSE);
  y += noteRect.bottom + margin;
  const int buttonWidth = Scale(kButtonWidth, dpi_);
  const int buttonHeight = Scale(kButtonHeight, dpi_);
  MoveWindow(close_, margin + width - buttonWidth, y, buttonWidth, buttonHeight, FALSE);
  y += buttonHeight + margin;

  RECT frame{0, 0, width + 2 * margin, y};
  AdjustWindowRectEx(&frame, static_cast<DWORD>(GetWindowLongPtrW(window_, GWL_STYLE)), FALSE,
                     static_cast<DWORD>(GetWindowLongPtrW(window_, GWL_EXSTYLE)));
  SetWindowPos(window_, nullptr, 0, 0, frame.right - frame.left, frame.bottom - frame.top,
               SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  if (!IsWindowVisible(window_)) {
    // Beside the owner's right edge, where it covers none of its controls
    // when the screen has the room; on the owner's right part otherwise.
    RECT owner{};
    GetWindowRect(owner_, &owner);
    const int screen = GetSystemMetrics(SM_CXSCREEN);
    const int frameWidth = frame.right - frame.left;
    const int x = std::max(0, std::min(static_cast<int>(owner.right), screen - frameWidth));
    SetWindowPos(window_, nullptr, x, owner.top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  }
}

void PhonePageWindow::Paint(HDC dc) {
  const RECT square = CodeRect();
  if (square.right > square.left) {
    FillRect(dc, &square, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    const int cell = Scale(kModulePixels, dpi_);
    const HBRUSH black = static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
    for (std::size_t y = 0; y < code_.modules.size(); ++y) {
      for (std::size_t x = 0; x < code_.modules[y].size(); ++x) {
        if (!code_.modules[y][x]) continue;
        const int left = square.left + (static_cast<int>(x) + kQuiet) * cell;
        const int top = square.top + (static_cast<int>(y) + kQuiet) * cell;
        const RECT module{left, top, left + cell, top + cell};
        FillRect(dc, &module, black);
      }
    }
  }
}

LRESULT CALLBACK PhonePageWindow::WindowProc(HWND window, UINT message, WPARAM wParam,
                                             LPARAM lParam) {
  if (message == WM_NCCREATE) {
    const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  auto* self = reinterpret_cast<PhonePageWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  if (self != nullptr) {
    switch (message) {
      case WM_PAINT: {
        PAINTSTRUCT paint{};
        self->Paint(BeginPaint(window, &paint));
        EndPaint(window, &paint);
        return 0;
      }
      case WM_PRINTCLIENT:
        self->Paint(reinterpret_cast<HDC>(wParam));
        return 0;
      case WM_COMMAND:
        if (LOWORD(wParam) == IDCANCEL) ShowWindow(window, SW_HIDE);
        return 0;
      case WM_CLOSE:
        // Closed, it only hides: the owner opens it again as it was.
        ShowWindow(window, SW_HIDE);
        return 0;
      case WM_CTLCOLORSTATIC:
        // The read-only link on the window's own face.
        SetBkColor(reinterpret_cast<HDC>(wParam), GetSysColor(COLOR_BTNFACE));
        return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_BTNFACE));
      default:
        break;
    }
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace shell::win
