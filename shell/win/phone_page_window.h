#pragma once

#include <windows.h>

#include "shell/main_view.h"

namespace shell::win {

// The phone page's ready link and its QR code in a small window of their
// own, owned by the main window and holding nothing up: the operator points
// a phone's camera at it instead of typing the token.
class PhonePageWindow {
 public:
  PhonePageWindow(HINSTANCE instance, HWND owner);
  ~PhonePageWindow();
  PhonePageWindow(const PhonePageWindow&) = delete;
  PhonePageWindow& operator=(const PhonePageWindow&) = delete;

  // Shows `code`, also while the window is open; `font` and `dpi` are the
  // main window's.
  void SetCode(const PhonePageCode& code, HFONT font, int dpi);
  // On screen beside its owner, in front.
  void Show();
  HWND Window() const { return window_; }
  const PhonePageCode& Code() const { return code_; }

 private:
  static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  void Paint(HDC dc);
  void LayOut();
  // The code's square, quiet zone included, in client pixels.
  RECT CodeRect() const;

  HWND owner_ = nullptr;
  HWND window_ = nullptr;
  HWND link_ = nullptr;
  HWND note_ = nullptr;
  HWND close_ = nullptr;
  HFONT font_ = nullptr;
  int dpi_ = 96;
  PhonePageCode code_;
};

}  // namespace shell::win
