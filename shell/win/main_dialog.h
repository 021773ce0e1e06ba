#pragma once

#include <windows.h>

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/win/win_user_interface.h"
#include "playlist/list_box.h"
#include "shell/main_view.h"
#include "shell/win/main_actions.h"
#include "shell/win/phone_page_window.h"

namespace shell::win {

// The player's main window on Windows: the dialog of glimmerfield.rc, placed
// for the monitor's DPI, showing what the presenter tells it and forwarding
// the operator's clicks, keys and selections to it. It decides nothing about
// the show.
class MainDialog final : public MainView, private playlist::ListBox {
 public:
  // Makes the dialog (hidden until ShowWindow) and hands `ui` its handle
  // and keys.
  MainDialog(HINSTANCE instance, platform::win::WinUserInterface& ui);
  ~MainDialog() override;
  MainDialog(const MainDialog&) = delete;
  MainDialog& operator=(const MainDialog&) = delete;

  // Where the operator's actions go; none: they are ignored.
  void Attach(MainActions* actions) { actions_ = actions; }
  HWND Window() const { return window_; }
  // Where the trace lines go (Trace); none: nowhere.
  void TraceTo(std::function<void(const std::string&)> sink) { trace_ = std::move(sink); }

  // MainView.
  void SetCaption(const std::string& text) override;
  void ShowWindow() override;
  void SetEnabled(Control control, bool enabled) override;
  void SetButtonFace(Control button, std::uint32_t colour) override;
  void SetToolTip(Control control, const std::string& text) override;
  void SetChoices(Choice list, const std::vector<std::string>& entries) override;
  void SelectChoice(Choice list, int index) override;
  int SelectedChoice(Choice list) const override;
  std::string SelectedChoiceText(Choice list) const override;
  playlist::ListBox& PlaylistBox() override { return *this; }
  bool PerformBitmask() const override;
  void SetStatusLine(const ColouredText& line) override;
  void SetNoticeLine(const NoticeLine& line) override;
  void SetKeepAliveBox(const CounterBox& box) override;
  void SetLateCountBox(const CounterBox& box) override;
  void SetNowPlaying(const std::string& text) override;
  void SetPlayingNote(const ColouredText& note) override;
  void SetPlayingTime(const std::string& text) override;
  void SetScheduleTitle(const std::string& text) override;
  void SetPhonePage(const std::string& text) override;
  void SetPhonePageCode(const PhonePageCode& code) override;
  void ShowImportingPanel(bool visible) override;
  void Post(std::function<void()> task) override;
  void WatchWakeFd(int fd) override;
  void Trace(const std::string& line) override;

  // What is on screen, for the tests.
  std::string ControlText(int id) const;
  std::string ToolTipOf(int id) const;
  std::uint32_t FaceOf(Control button) const;
  std::uint32_t BackgroundOf(int id) const;
  int Dpi() const { return dpi_; }
  // The phone page's window once the operator opened it, else null.
  const PhonePageWindow* PhonePage() const { return phonePage_.get(); }

  // The control identifier (resource.h) of a control and of a list.
  static int IdOf(Control control);
  static int IdOf(Choice list);

 private:
  // playlist::ListBox: lstPlayList, keeping each entry's exact bytes (a
  // Windows-1252 title reads back unchanged) beside the text shown.
  int Count() const override;
  std::string Text(int index) const override;
  std::int32_t ItemData(int index) const override;
  void SetItemData(int index, std::int32_t data) override;
  void InsertItem(int index, const std::string& text) override;
  void RemoveItem(int index) override;
  void Clear() override;
  int SelectedIndex() const override;
  void Select(int index) override;
  void SetFocus() override;
  void CheckRow(int index) const;

  static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  INT_PTR Handle(UINT message, WPARAM wParam, LPARAM lParam);
  void OnInit();
  void OnCommand(int id, int code, bool fromAccelerator);
  void Forward(const char* what, const std::function<void(MainActions&)>& action);
  void LayOutControls();
  // Opens (or brings up) the phone page's link and QR code.
  void ShowPhonePage();
  void MakeFonts();
  void UpdateHorizontalExtent();
  bool DrawButton(const DRAWITEMSTRUCT& item);
  HBRUSH Colour(HDC dc, HWND control);
  void SetText(int id, const std::string& text);
  void SetTip(int id, const std::string& text);
  void ReplaceTip(int id, bool overParent);
  HWND Item(int id) const { return GetDlgItem(window_, id); }

  platform::win::WinUserInterface& ui_;
  MainActions* actions_ = nullptr;
  HWND window_ = nullptr;
  HWND tips_ = nullptr;
  HACCEL accelerators_ = nullptr;
  int dpi_ = 96;
  HFONT font_ = nullptr;
  HFONT bold_ = nullptr;
  HFONT large_ = nullptr;
  // Colours given by the presenter, by control.
  std::map<int, std::uint32_t> textColour_;
  std::map<int, std::uint32_t> backColour_;
  std::map<int, HBRUSH> brushes_;
  std::map<int, std::string> tipText_;
  std::wstring tipBuffer_;  // the tooltip shown now
  std::uint32_t faceStart_ = 0;
  std::uint32_t faceStop_ = 0;
  std::vector<std::string> rowBytes_;
  std::deque<std::function<void()>> posted_;
  std::function<void(const std::string&)> trace_;
  PhonePageCode phonePageCode_;
  std::unique_ptr<PhonePageWindow> phonePage_;
};

// A colour of the presenter's (system colour 0x800000nn or 0x00BBGGRR) as
// Windows paints it.
COLORREF ColourRef(std::uint32_t code);

}  // namespace shell::win
