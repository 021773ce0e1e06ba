#include "shell/win/main_dialog.h"

#include <commctrl.h>

#include <algorithm>
#include <exception>
#include <stdexcept>
#include <utility>

#include "platform/win/wide_text.h"
#include "shell/colours.h"
#include "shell/win/dialog_layout.h"
#include "shell/win/resource.h"
#include "shell/win/shown_text.h"

namespace shell::win {
namespace {

using platform::win::Narrow;
using platform::win::Widen;

constexpr UINT kRunPosted = WM_APP + 1;
constexpr UINT_PTR kTickTimer = 1;
// The presenter's "now and then".
constexpr UINT kTickMilliseconds = 250;
// Entries a setting list shows when opened.
constexpr int kVisibleChoices = 16;
// The import panel's pale yellow and red, the counters' text.
constexpr COLORREF kPaleYellow = RGB(255, 255, 192);
constexpr COLORREF kImportingText = RGB(255, 0, 0);

// The counters' own tooltips: what their numbers mean.
constexpr const char* kKeepAliveTip =
    "seconds since the last keep-alive: green while the controllers hear from the show at "
    "least every second, red after a gap of 2 seconds or more";
constexpr const char* kPhonePageTip =
    "The phone page's link and its QR code: a phone's camera opens the page";
constexpr const char* kLateCountTip =
    "keep-alives that came late (a gap of 2 seconds or more) since the player started; red "
    "once one came late";

// Controls whose tooltip also shows while they are disabled: a disabled
// control takes no mouse input, so the dialog under it watches for it.
constexpr int kDisablable[] = {
    IDC_CBOPORT,           IDC_CBODATARATE,       IDC_CBOFRAMECOMP,
    IDC_CBOSTARTTIME,      IDC_CBOENDTIME,        IDC_CMDPLAYLISTADD,
    IDC_CMDPLAYLISTREMOVE, IDC_CMDPLAYLISTMOVEUP, IDC_CMDPLAYLISTMOVEDOWN,
    IDC_LSTPLAYLIST,       IDC_CMDSHOWSTART,      IDC_CMDSTOP};

int DpiOf(HWND window) {
  using GetDpiForWindowFn = UINT(WINAPI*)(HWND);
  static const auto getDpi = reinterpret_cast<GetDpiForWindowFn>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"user32.dll"), "GetDpiForWindow")));
  if (getDpi != nullptr && window != nullptr) {
    if (const UINT dpi = getDpi(window); dpi != 0) return static_cast<int>(dpi);
  }
  const HDC screen = GetDC(nullptr);
  const int dpi = GetDeviceCaps(screen, LOGPIXELSX);
  ReleaseDC(nullptr, screen);
  return dpi > 0 ? dpi : kBaseDpi;
}

// The window rectangle around a client area at `dpi`.
RECT WindowRectFor(HWND window, int width, int height, int dpi) {
  RECT r{0, 0, width, height};
  const DWORD style = static_cast<DWORD>(GetWindowLongPtrW(window, GWL_STYLE));
  const DWORD exStyle = static_cast<DWORD>(GetWindowLongPtrW(window, GWL_EXSTYLE));
  using AdjustFn = BOOL(WINAPI*)(LPRECT, DWORD, BOOL, DWORD, UINT);
  static const auto adjust = reinterpret_cast<AdjustFn>(reinterpret_cast<void*>(
      GetProcAddress(GetModuleHandleW(L"user32.dll"), "AdjustWindowRectExForDpi")));
  if (adjust != nullptr) {
    adjust(&r, style, FALSE, exStyle, static_cast<UINT>(dpi));
  } else {
    AdjustWindowRectEx(&r, style, FALSE, exStyle);
  }
  return r;
}

// The dialog lays itself out per DPI: Windows' own rescaling of dialogs
// would fight it.
void KeepOwnDpiLayout(HWND window) {
  using BehaviourFn = BOOL(WINAPI*)(HWND, int, int);
  static const auto set = reinterpret_cast<BehaviourFn>(reinterpret_cast<void*>(
      GetProcAddress(GetModuleHandleW(L"user32.dll"), "SetDialogDpiChangeBehavior")));
  constexpr int kDisableAll = 1;  // DDC_DISABLE_ALL
  if (set != nullptr) set(window, kDisableAll, kDisableAll);
}

}  // namespace

COLORREF ColourRef(std::uint32_t code) {
  if (code & 0x80000000u) return GetSysColor(static_cast<int>(code & 0xFFu));
  return static_cast<COLORREF>(code & 0x00FFFFFFu);
}

MainDialog::MainDialog(HINSTANCE instance, platform::win::WinUserInterface& ui) : ui_(ui) {
  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES | ICC_WIN95_CLASSES};
  InitCommonControlsEx(&controls);
  accelerators_ = LoadAcceleratorsW(instance, MAKEINTRESOURCEW(IDR_ACCELERATORS));
  window_ = CreateDialogParamW(instance, MAKEINTRESOURCEW(IDD_FRMMAIN), nullptr,
                               &MainDialog::DialogProc, reinterpret_cast<LPARAM>(this));
  if (window_ == nullptr) {
    throw std::runtime_error("the main window cannot be made: " +
                             platform::win::LastErrorMessage());
  }
  ui_.SetMainWindow(window_, accelerators_);
}

MainDialog::~MainDialog() {
  ui_.SetMainWindow(nullptr, nullptr);
  if (window_ != nullptr && IsWindow(window_)) {
    SetWindowLongPtrW(window_, GWLP_USERDATA, 0);
    DestroyWindow(window_);
  }
  for (const auto& [id, brush] : brushes_) DeleteObject(brush);
  for (HFONT font : {font_, bold_, large_}) {
    if (font != nullptr) DeleteObject(font);
  }
  if (accelerators_ != nullptr) DestroyAcceleratorTable(accelerators_);
}

int MainDialog::IdOf(Control control) {
  switch (control) {
    case Control::Port:
      return IDC_CBOPORT;
    case Control::DataRate:
      return IDC_CBODATARATE;
    case Control::FrameTiming:
      return IDC_CBOFRAMECOMP;
    case Control::StartTime:
      return IDC_CBOSTARTTIME;
    case Control::EndTime:
      return IDC_CBOENDTIME;
    case Control::Add:
      return IDC_CMDPLAYLISTADD;
    case Control::Remove:
      return IDC_CMDPLAYLISTREMOVE;
    case Control::MoveUp:
      return IDC_CMDPLAYLISTMOVEUP;
    case Control::MoveDown:
      return IDC_CMDPLAYLISTMOVEDOWN;
    case Control::Playlist:
      return IDC_LSTPLAYLIST;
    case Control::Start:
      return IDC_CMDSHOWSTART;
    case Control::Stop:
      return IDC_CMDSTOP;
  }
  return 0;
}

int MainDialog::IdOf(Choice list) {
  return IdOf(ControlOf(list));
}

INT_PTR CALLBACK MainDialog::DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    auto* self = reinterpret_cast<MainDialog*>(lParam);
    SetWindowLongPtrW(window, GWLP_USERDATA, lParam);
    self->window_ = window;
    self->OnInit();
    return TRUE;
  }
  auto* self = reinterpret_cast<MainDialog*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  if (self == nullptr) return FALSE;
  // No exception may cross back into the system's code.
  try {
    return self->Handle(message, wParam, lParam);
  } catch (const std::exception& e) {
    self->ui_.ShowMessage(std::string("Unexpected error in the window: ") + e.what());
  } catch (...) {
    self->ui_.ShowMessage("Unexpected error in the window.");
  }
  return FALSE;
}

void MainDialog::OnInit() {
  KeepOwnDpiLayout(window_);
  dpi_ = DpiOf(window_);
  const HINSTANCE instance =
      reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(window_, GWLP_HINSTANCE));
  const HICON icon = LoadIconW(instance, MAKEINTRESOURCEW(IDI_GLIMMERFIELD));
  SendMessageW(window_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon));
  SendMessageW(window_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon));

  tips_ = CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr,
                          WS_POPUP | TTS_ALWAYSTIP | TTS_NOPREFIX, CW_USEDEFAULT, CW_USEDEFAULT,
                          CW_USEDEFAULT, CW_USEDEFAULT, window_, nullptr, instance, nullptr);
  for (int id : kDisablable) {
    ReplaceTip(id, false);
    ReplaceTip(id, true);
  }
  for (int id : {IDC_LBLSTATUS, IDC_LBLNOTICE, IDC_TEXT1, IDC_TEXT2, IDC_LBLNOWPLAYING,
                 IDC_LBLPLAYINGNOTE, IDC_LBLPLAYINGTIME, IDC_LBLPHONEPAGE, IDC_CMDPHONEPAGE}) {
    ReplaceTip(id, false);
  }
  tipText_[IDC_CMDPHONEPAGE] = kPhonePageTip;
  tipText_[IDC_TEXT1] = kKeepAliveTip;
  tipText_[IDC_TEXT2] = kLateCountTip;

  for (int id :
       {IDC_CBOPORT, IDC_CBODATARATE, IDC_CBOFRAMECOMP, IDC_CBOSTARTTIME, IDC_CBOENDTIME}) {
    SendDlgItemMessageW(window_, id, CB_SETMINVISIBLE, kVisibleChoices, 0);
  }
  // Merging identical commands only shortens the compiled table; the box
  // is not remembered between runs.
  CheckDlgButton(window_, IDC_CHKPERFORMBITMASK, BST_CHECKED);
  backColour_[IDC_TEXT1] = kWindowBackground;
  backColour_[IDC_TEXT2] = kWindowBackground;
  faceStart_ = kButtonFace;
  faceStop_ = kButtonHighlight;

  // Each control paints only where no control above it lies: the import
  // panel then stays whole over the controls it covers when they repaint
  // (disabled by the import, uncovered by a message box). The frames and
  // the song's area, drawn around controls, go below them all.
  for (HWND child = GetWindow(window_, GW_CHILD); child != nullptr;
       child = GetWindow(child, GW_HWNDNEXT)) {
    SetWindowLongPtrW(child, GWL_STYLE, GetWindowLongPtrW(child, GWL_STYLE) | WS_CLIPSIBLINGS);
  }
  for (int id : {IDC_FRAME1, IDC_FRAME2, IDC_FRAME3, IDC_FRAME4, IDC_WINDOWSMEDIA}) {
    SetWindowPos(Item(id), HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  }

  MakeFonts();
  const PixelRect client = MinimumClient(dpi_);
  const RECT frame = WindowRectFor(window_, client.width, client.height, dpi_);
  SetWindowPos(window_, nullptr, 0, 0, frame.right - frame.left, frame.bottom - frame.top,
               SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  // Centred on its monitor.
  MONITORINFO monitor{sizeof monitor, {}, {}, 0};
  if (GetMonitorInfoW(MonitorFromWindow(window_, MONITOR_DEFAULTTOPRIMARY), &monitor)) {
    const RECT& area = monitor.rcWork;
    const int width = frame.right - frame.left;
    const int height = frame.bottom - frame.top;
    SetWindowPos(window_, nullptr, area.left + std::max(0L, (area.right - area.left - width) / 2),
                 area.top + std::max(0L, (area.bottom - area.top - height) / 2), 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  }
  LayOutControls();
  SetTimer(window_, kTickTimer, kTickMilliseconds, nullptr);
}

void MainDialog::MakeFonts() {
  for (HFONT font : {font_, bold_, large_}) {
    if (font != nullptr) DeleteObject(font);
  }
  // 8.25 pt sans-serif, the status line and counters bold, the import
  // panel's text 13.5 pt bold.
  LOGFONTW face{};
  wcscpy_s(face.lfFaceName, L"MS Shell Dlg 2");
  face.lfCharSet = DEFAULT_CHARSET;
  face.lfQuality = CLEARTYPE_QUALITY;
  face.lfHeight = -MulDiv(825, dpi_, 7200);
  face.lfWeight = FW_NORMAL;
  font_ = CreateFontIndirectW(&face);
  face.lfWeight = FW_BOLD;
  bold_ = CreateFontIndirectW(&face);
  face.lfHeight = -MulDiv(1350, dpi_, 7200);
  large_ = CreateFontIndirectW(&face);
  for (HWND child = GetWindow(window_, GW_CHILD); child != nullptr;
       child = GetWindow(child, GW_HWNDNEXT)) {
    HFONT font = font_;
    switch (GetDlgCtrlID(child)) {
      case IDC_LBLSTATUS:
      case IDC_TEXT1:
      case IDC_TEXT2:
        font = bold_;
        break;
      case IDC_LBLIMPORTING:
        font = large_;
        break;
      default:
        break;
    }
    SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
  }
  if (tips_ != nullptr) {
    SendMessageW(tips_, WM_SETFONT, reinterpret_cast<WPARAM>(font_), FALSE);
    SendMessageW(tips_, TTM_SETMAXTIPWIDTH, 0, MulDiv(600, dpi_, kBaseDpi));
  }
}

void MainDialog::LayOutControls() {
  RECT client{};
  GetClientRect(window_, &client);
  const std::vector<Placement> places = LayOut(client.right, client.bottom, dpi_);
  HDWP moves = BeginDeferWindowPos(static_cast<int>(places.size()));
  for (const Placement& p : places) {
    const HWND control = Item(p.id);
    if (control == nullptr) continue;
    int height = p.where.height;
    // A drop-down list's height is that of its list when open; the closed
    // box takes the font's.
    wchar_t kind[16] = {};
    GetClassNameW(control, kind, 16);
    if (lstrcmpiW(kind, WC_COMBOBOXW) == 0) height += Scale(kVisibleChoices * 16, dpi_);
    if (moves != nullptr) {
      moves = DeferWindowPos(moves, control, nullptr, p.where.x, p.where.y, p.where.width, height,
                             SWP_NOZORDER | SWP_NOACTIVATE);
    }
  }
  if (moves != nullptr) EndDeferWindowPos(moves);
  // The tooltips over disabled controls follow them.
  for (int id : kDisablable) ReplaceTip(id, true);
  InvalidateRect(window_, nullptr, TRUE);
}

void MainDialog::ReplaceTip(int id, bool overParent) {
  if (tips_ == nullptr || Item(id) == nullptr) return;
  TOOLINFOW tool{};
  tool.cbSize = sizeof tool;
  tool.hwnd = window_;
  tool.lpszText = LPSTR_TEXTCALLBACKW;
  if (overParent) {
    tool.uFlags = TTF_SUBCLASS;
    tool.uId = static_cast<UINT_PTR>(id);
    RECT r{};
    GetWindowRect(Item(id), &r);
    MapWindowPoints(nullptr, window_, reinterpret_cast<POINT*>(&r), 2);
    tool.rect = r;
    SendMessageW(tips_, TTM_DELTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
  } else {
    tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
    tool.uId = reinterpret_cast<UINT_PTR>(Item(id));
  }
  SendMessageW(tips_, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
}

INT_PTR MainDialog::Handle(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_COMMAND:
      OnCommand(LOWORD(wParam), HIWORD(wParam), HIWORD(wParam) == 1 && lParam == 0);
      return TRUE;
    case WM_CLOSE:
      if (actions_ != nullptr) {
        Forward("Form_QueryUnload", [](MainActions& p) { p.QueryUnload(); });
      } else {
        DestroyWindow(window_);
      }
      return TRUE;
    case WM_DESTROY:
      KillTimer(window_, kTickTimer);
      PostQuitMessage(0);
      return TRUE;
    case WM_TIMER:
      if (wParam == kTickTimer)
        Forward("the phone page and the watch", [](MainActions& p) { p.Tick(); });
      return TRUE;
    case kRunPosted:
      while (!posted_.empty()) {
        const std::function<void()> task = std::move(posted_.front());
        posted_.pop_front();
        Forward("a posted task", [&task](MainActions&) { task(); });
      }
      return TRUE;
    case WM_SIZE:
      LayOutControls();
      return TRUE;
    case WM_GETMINMAXINFO: {
      const PixelRect client = MinimumClient(dpi_);
      const RECT frame = WindowRectFor(window_, client.width, client.height, dpi_);
      auto* limits = reinterpret_cast<MINMAXINFO*>(lParam);
      limits->ptMinTrackSize = {frame.right - frame.left, frame.bottom - frame.top};
      return TRUE;
    }
    case WM_DPICHANGED: {
      dpi_ = HIWORD(wParam);
      MakeFonts();
      if (phonePage_) phonePage_->SetCode(phonePageCode_, font_, dpi_);
      const RECT* suggested = reinterpret_cast<const RECT*>(lParam);
      SetWindowPos(window_, nullptr, suggested->left, suggested->top,
                   suggested->right - suggested->left, suggested->bottom - suggested->top,
                   SWP_NOZORDER | SWP_NOACTIVATE);
      LayOutControls();
      return TRUE;
    }
    case WM_SETCURSOR:
      if (ui_.Hourglass()) {
        SetCursor(LoadCursorW(nullptr, IDC_WAIT));
        SetWindowLongPtrW(window_, DWLP_MSGRESULT, TRUE);
        return TRUE;
      }
      return FALSE;
    case WM_DRAWITEM:
      return DrawButton(*reinterpret_cast<const DRAWITEMSTRUCT*>(lParam)) ? TRUE : FALSE;
    case WM_CTLCOLORSTATIC:
      return reinterpret_cast<INT_PTR>(
          Colour(reinterpret_cast<HDC>(wParam), reinterpret_cast<HWND>(lParam)));
    case WM_NOTIFY: {
      auto* header = reinterpret_cast<NMHDR*>(lParam);
      if (header->hwndFrom != tips_ || header->code != TTN_GETDISPINFOW) return FALSE;
      auto* info = reinterpret_cast<NMTTDISPINFOW*>(lParam);
      const int id = (info->uFlags & TTF_IDISHWND)
                         ? GetDlgCtrlID(reinterpret_cast<HWND>(header->idFrom))
                         : static_cast<int>(header->idFrom);
      std::string text = ToolTipOf(id);
      // The device a number opens now, also one plugged in since.
      if (id == IDC_CBOPORT && actions_ != nullptr) text = actions_->PortToolTip();
      tipBuffer_ = ShownText(text);
      info->lpszText = tipBuffer_.data();
      return TRUE;
    }
    default:
      return FALSE;
  }
}

void MainDialog::OnCommand(int id, int code, bool fromAccelerator) {
  if (fromAccelerator) {
    if (id == IDA_FOCUS_PLAYLIST) {
      SetFocus();
      return;
    }
    // A key works only where the button it stands for could be clicked.
    const HWND control = Item(id);
    if (control == nullptr || !IsWindowEnabled(control)) return;
    code = BN_CLICKED;
  }
  switch (id) {
    case IDOK: {
      // Enter on the owner-drawn Start or Stop clicks it, as on any button.
      const HWND focus = GetFocus();
      if (focus == Item(IDC_CMDSHOWSTART) || focus == Item(IDC_CMDSTOP)) {
        OnCommand(GetDlgCtrlID(focus), BN_CLICKED, false);
      }
      return;
    }
    case IDCANCEL:
      // Escape does not close the player (that would end the show).
      return;
    case IDC_CMDSHOWSTART:
      if (code == BN_CLICKED) Forward("cmdShowStart_Click", [](MainActions& p) { p.Start(); });
      return;
    case IDC_CMDSTOP:
      if (code == BN_CLICKED) Forward("cmdStop_Click", [](MainActions& p) { p.Stop(); });
      return;
    case IDC_CMDPLAYLISTADD:
      if (code == BN_CLICKED) Forward("cmdPlayListAdd_Click", [](MainActions& p) { p.Add(); });
      return;
    case IDC_CMDPLAYLISTREMOVE:
      if (code == BN_CLICKED)
        Forward("cmdPlaylistRemove_Click", [](MainActions& p) { p.Remove(); });
      return;
    case IDC_CMDPLAYLISTMOVEUP:
      if (code == BN_CLICKED)
        Forward("cmdPlayListMoveUp_Click", [](MainActions& p) { p.MoveUp(); });
      return;
    case IDC_CMDPHONEPAGE:
      if (code == BN_CLICKED) ShowPhonePage();
      return;
    case IDC_CMDPLAYLISTMOVEDOWN:
      if (code == BN_CLICKED) {
        Forward("cmdPlaylistMoveDown_Click", [](MainActions& p) { p.MoveDown(); });
      }
      return;
    default:
      break;
  }
  if (code != CBN_SELCHANGE) return;
  for (Choice list : kChoices) {
    if (IdOf(list) == id) {
      Forward("the list's selection", [list](MainActions& p) { p.ChoiceChanged(list); });
      return;
    }
  }
}

void MainDialog::Forward(const char* what, const std::function<void(MainActions&)>& action) {
  if (actions_ == nullptr) return;
  try {
    action(*actions_);
  } catch (const std::exception& e) {
    ui_.ShowMessage(std::string("Unexpected error in ") + what + ": " + e.what());
  } catch (...) {
    ui_.ShowMessage(std::string("Unexpected error in ") + what + ".");
  }
}

bool MainDialog::DrawButton(const DRAWITEMSTRUCT& item) {
  if (item.CtlType != ODT_BUTTON) return false;
  const int id = static_cast<int>(item.CtlID);
  RECT r = item.rcItem;
  const bool pressed = (item.itemState & ODS_SELECTED) != 0;
  DrawFrameControl(item.hDC, &r, DFC_BUTTON, DFCS_BUTTONPUSH | (pressed ? DFCS_PUSHED : 0));
  // The face inside the frame in the presenter's colour.
  RECT face = r;
  InflateRect(&face, -2, -2);
  const HBRUSH brush = CreateSolidBrush(ColourRef(id == IDC_CMDSHOWSTART ? faceStart_ : faceStop_));
  FillRect(item.hDC, &face, brush);
  DeleteObject(brush);
  wchar_t caption[32] = {};
  GetWindowTextW(item.hwndItem, caption, 32);
  SetBkMode(item.hDC, TRANSPARENT);
  SetTextColor(item.hDC,
               GetSysColor((item.itemState & ODS_DISABLED) ? COLOR_GRAYTEXT : COLOR_BTNTEXT));
  if (pressed) OffsetRect(&face, 1, 1);
  DrawTextW(item.hDC, caption, -1, &face, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
  if (item.itemState & ODS_FOCUS) {
    InflateRect(&face, -3, -3);
    DrawFocusRect(item.hDC, &face);
  }
  return true;
}

HBRUSH MainDialog::Colour(HDC dc, HWND control) {
  const int id = GetDlgCtrlID(control);
  if (id == IDC_FRMIMPORTING || id == IDC_LBLIMPORTING) {
    SetTextColor(dc, kImportingText);
    SetBkColor(dc, kPaleYellow);
    auto& brush = brushes_[IDC_FRMIMPORTING];
    if (brush == nullptr) brush = CreateSolidBrush(kPaleYellow);
    return brush;
  }
  if (const auto back = backColour_.find(id); back != backColour_.end()) {
    const COLORREF colour = ColourRef(back->second);
    SetTextColor(dc, GetSysColor(COLOR_WINDOWTEXT));
    SetBkColor(dc, colour);
    auto& brush = brushes_[id];
    if (brush != nullptr) DeleteObject(brush);
    brush = CreateSolidBrush(colour);
    return brush;
  }
  if (const auto text = textColour_.find(id); text != textColour_.end()) {
    SetTextColor(dc, ColourRef(text->second));
  }
  SetBkMode(dc, TRANSPARENT);
  return GetSysColorBrush(COLOR_BTNFACE);
}

void MainDialog::SetText(int id, const std::string& text) {
  SetDlgItemTextW(window_, id, ShownText(text).c_str());
}

void MainDialog::SetTip(int id, const std::string& text) {
  tipText_[id] = text;
}

std::string MainDialog::ControlText(int id) const {
  const HWND control = Item(id);
  if (control == nullptr) return {};
  std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(control)) + 1, L'\0');
  text.resize(static_cast<std::size_t>(
      GetWindowTextW(control, text.data(), static_cast<int>(text.size()))));
  return Narrow(text);
}

std::string MainDialog::ToolTipOf(int id) const {
  const auto tip = tipText_.find(id);
  return tip == tipText_.end() ? std::string() : tip->second;
}

std::uint32_t MainDialog::FaceOf(Control button) const {
  return button == Control::Start ? faceStart_ : faceStop_;
}

std::uint32_t MainDialog::BackgroundOf(int id) const {
  const auto back = backColour_.find(id);
  return back == backColour_.end() ? 0 : back->second;
}

// --- MainView ---

void MainDialog::SetCaption(const std::string& text) {
  SetWindowTextW(window_, Widen(text).c_str());
}

void MainDialog::ShowWindow() {
  ::ShowWindow(window_, SW_SHOW);
  UpdateWindow(window_);
  SetForegroundWindow(window_);
}

void MainDialog::SetEnabled(Control control, bool enabled) {
  const HWND item = Item(IdOf(control));
  // Focus on a control about to go grey would leave the keyboard nowhere.
  if (!enabled && GetFocus() == item) SendMessageW(window_, WM_NEXTDLGCTL, 0, FALSE);
  EnableWindow(item, enabled ? TRUE : FALSE);
}

void MainDialog::SetButtonFace(Control button, std::uint32_t colour) {
  (button == Control::Start ? faceStart_ : faceStop_) = colour;
  InvalidateRect(Item(IdOf(button)), nullptr, FALSE);
}

void MainDialog::SetToolTip(Control control, const std::string& text) {
  SetTip(IdOf(control), text);
}

void MainDialog::SetChoices(Choice list, const std::vector<std::string>& entries) {
  const HWND box = Item(IdOf(list));
  SendMessageW(box, CB_RESETCONTENT, 0, 0);
  for (const std::string& entry : entries) {
    SendMessageW(box, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(DisplayText(entry).c_str()));
  }
  SendMessageW(box, CB_SETCURSEL, static_cast<WPARAM>(-1), 0);
}

void MainDialog::SelectChoice(Choice list, int index) {
  SendMessageW(Item(IdOf(list)), CB_SETCURSEL, static_cast<WPARAM>(index), 0);
}

int MainDialog::SelectedChoice(Choice list) const {
  const LRESULT index = SendMessageW(Item(IdOf(list)), CB_GETCURSEL, 0, 0);
  return index == CB_ERR ? -1 : static_cast<int>(index);
}

std::string MainDialog::SelectedChoiceText(Choice list) const {
  const HWND box = Item(IdOf(list));
  const LRESULT index = SendMessageW(box, CB_GETCURSEL, 0, 0);
  if (index == CB_ERR) return {};
  const LRESULT length = SendMessageW(box, CB_GETLBTEXTLEN, static_cast<WPARAM>(index), 0);
  if (length == CB_ERR) return {};
  std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
  SendMessageW(box, CB_GETLBTEXT, static_cast<WPARAM>(index),
               reinterpret_cast<LPARAM>(text.data()));
  text.resize(static_cast<std::size_t>(length));
  return Narrow(text);
}

bool MainDialog::PerformBitmask() const {
  return IsDlgButtonChecked(window_, IDC_CHKPERFORMBITMASK) == BST_CHECKED;
}

void MainDialog::SetStatusLine(const ColouredText& line) {
  textColour_[IDC_LBLSTATUS] = line.colour;
  SetText(IDC_LBLSTATUS, line.text);
  SetTip(IDC_LBLSTATUS, line.text);
}

void MainDialog::SetNoticeLine(const NoticeLine& line) {
  textColour_[IDC_LBLNOTICE] = line.colour;
  SetText(IDC_LBLNOTICE, line.text);
  SetTip(IDC_LBLNOTICE, line.history);
}

void MainDialog::SetKeepAliveBox(const CounterBox& box) {
  backColour_[IDC_TEXT1] = box.background;
  SetText(IDC_TEXT1, box.text);
  InvalidateRect(Item(IDC_TEXT1), nullptr, TRUE);
}

void MainDialog::SetLateCountBox(const CounterBox& box) {
  backColour_[IDC_TEXT2] = box.background;
  SetText(IDC_TEXT2, box.text);
  InvalidateRect(Item(IDC_TEXT2), nullptr, TRUE);
}

void MainDialog::SetNowPlaying(const std::string& text) {
  SetText(IDC_LBLNOWPLAYING, text);
  SetTip(IDC_LBLNOWPLAYING, text);
}

void MainDialog::SetPlayingNote(const ColouredText& note) {
  textColour_[IDC_LBLPLAYINGNOTE] = note.colour;
  SetText(IDC_LBLPLAYINGNOTE, note.text);
  SetTip(IDC_LBLPLAYINGNOTE, note.text);
}

void MainDialog::SetPlayingTime(const std::string& text) {
  SetText(IDC_LBLPLAYINGTIME, text);
}

void MainDialog::SetScheduleTitle(const std::string& text) {
  SetText(IDC_FRAME4, text);
}

void MainDialog::SetPhonePage(const std::string& text) {
  SetText(IDC_LBLPHONEPAGE, text);
  SetTip(IDC_LBLPHONEPAGE, text);
  ::ShowWindow(Item(IDC_LBLPHONEPAGE), text.empty() ? SW_HIDE : SW_SHOWNA);
}

void MainDialog::SetPhonePageCode(const PhonePageCode& code) {
  phonePageCode_ = code;
  if (phonePage_) phonePage_->SetCode(code, font_, dpi_);
}

void MainDialog::ShowPhonePage() {
  if (!phonePage_) {
    phonePage_ = std::make_unique<PhonePageWindow>(
        reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(window_, GWLP_HINSTANCE)), window_);
    phonePage_->SetCode(phonePageCode_, font_, dpi_);
  }
  phonePage_->Show();
}

void MainDialog::ShowImportingPanel(bool visible) {
  for (int id : {IDC_FRMIMPORTING, IDC_LBLIMPORTING}) {
    const HWND control = Item(id);
    // Over every other control: first in the order is on top.
    if (visible)
      SetWindowPos(control, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    ::ShowWindow(control, visible ? SW_SHOWNA : SW_HIDE);
  }
  if (visible) {
    // The label above its panel.
    SetWindowPos(Item(IDC_LBLIMPORTING), HWND_TOP, 0, 0, 0, 0,
                 SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    UpdateWindow(window_);
  } else {
    InvalidateRect(window_, nullptr, TRUE);
  }
}

void MainDialog::Post(std::function<void()> task) {
  posted_.push_back(std::move(task));
  PostMessageW(window_, kRunPosted, 0, 0);
}

void MainDialog::WatchWakeFd(int) {
  // Windows' page server has no descriptor to watch: the quarter-second
  // tick serves it, and the show's yields while one runs.
}

void MainDialog::Trace(const std::string& line) {
  if (trace_) trace_(line);
}

// --- playlist::ListBox ---

int MainDialog::Count() const {
  return static_cast<int>(rowBytes_.size());
}

void MainDialog::CheckRow(int index) const {
  if (index < 0 || index >= Count()) {
    throw std::out_of_range("lstPlayList has no item " + std::to_string(index) + " (it holds " +
                            std::to_string(Count()) + ")");
  }
}

std::string MainDialog::Text(int index) const {
  CheckRow(index);
  return rowBytes_[static_cast<std::size_t>(index)];
}

std::int32_t MainDialog::ItemData(int index) const {
  CheckRow(index);
  return static_cast<std::int32_t>(
      SendDlgItemMessageW(window_, IDC_LSTPLAYLIST, LB_GETITEMDATA, static_cast<WPARAM>(index), 0));
}

void MainDialog::SetItemData(int index, std::int32_t data) {
  CheckRow(index);
  SendDlgItemMessageW(window_, IDC_LSTPLAYLIST, LB_SETITEMDATA, static_cast<WPARAM>(index),
                      static_cast<LPARAM>(data));
}

void MainDialog::InsertItem(int index, const std::string& text) {
  if (index < 0 || index > Count()) {
    throw std::out_of_range("cannot insert at " + std::to_string(index) + " into lstPlayList");
  }
  const LRESULT at =
      SendDlgItemMessageW(window_, IDC_LSTPLAYLIST, LB_INSERTSTRING, static_cast<WPARAM>(index),
                          reinterpret_cast<LPARAM>(DisplayText(text).c_str()));
  if (at < 0) throw std::runtime_error("lstPlayList has no room for another entry");
  SendDlgItemMessageW(window_, IDC_LSTPLAYLIST, LB_SETITEMDATA, static_cast<WPARAM>(at), 0);
  rowBytes_.insert(rowBytes_.begin() + index, text);
  UpdateHorizontalExtent();
}

void MainDialog::RemoveItem(int index) {
  CheckRow(index);
  SendDlgItemMessageW(window_, IDC_LSTPLAYLIST, LB_DELETESTRING, static_cast<WPARAM>(index), 0);
  rowBytes_.erase(rowBytes_.begin() + index);
  UpdateHorizontalExtent();
}

void MainDialog::Clear() {
  SendDlgItemMessageW(window_, IDC_LSTPLAYLIST, LB_RESETCONTENT, 0, 0);
  rowBytes_.clear();
  UpdateHorizontalExtent();
}

int MainDialog::SelectedIndex() const {
  const LRESULT index = SendDlgItemMessageW(window_, IDC_LSTPLAYLIST, LB_GETCURSEL, 0, 0);
  return index == LB_ERR ? -1 : static_cast<int>(index);
}

void MainDialog::Select(int index) {
  if (index >= 0) CheckRow(index);
  SendDlgItemMessageW(window_, IDC_LSTPLAYLIST, LB_SETCURSEL, static_cast<WPARAM>(index), 0);
}

void MainDialog::SetFocus() {
  SendMessageW(window_, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(Item(IDC_LSTPLAYLIST)), TRUE);
}

// Entries end in their archive's whole path, usually wider than the list:
// it scrolls sideways to show them.
void MainDialog::UpdateHorizontalExtent() {
  const HWND list = Item(IDC_LSTPLAYLIST);
  const HDC dc = GetDC(list);
  const HGDIOBJ old = SelectObject(dc, font_);
  int widest = 0;
  for (const std::string& row : rowBytes_) {
    const std::wstring text = DisplayText(row);
    SIZE size{};
    GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size);
    widest = std::max(widest, static_cast<int>(size.cx));
  }
  SelectObject(dc, old);
  ReleaseDC(list, dc);
  SendMessageW(list, LB_SETHORIZONTALEXTENT, static_cast<WPARAM>(widest + Scale(8, dpi_)), 0);
}

}  // namespace shell::win
