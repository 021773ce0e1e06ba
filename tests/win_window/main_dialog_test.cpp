#include "shell/win/main_dialog.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <stdexcept>
#include <string>
#include <vector>

#include "shell/colours.h"
#include "shell/win/resource.h"
#include "tests/fakes/skip_outside_ci.h"

namespace shell::win {
namespace {

// What the window forwarded, in order.
class RecordedActions final : public MainActions {
 public:
  void Start() override { calls.push_back("Start"); }
  void Stop() override { calls.push_back("Stop"); }
  void Add() override { calls.push_back("Add"); }
  void Remove() override { calls.push_back("Remove"); }
  void MoveUp() override { calls.push_back("MoveUp"); }
  void MoveDown() override { calls.push_back("MoveDown"); }
  void ChoiceChanged(Choice list) override {
    calls.push_back("ChoiceChanged " + std::to_string(static_cast<int>(list)));
  }
  void QueryUnload() override { calls.push_back("QueryUnload"); }
  void Tick() override {}
  std::string PortToolTip() const override { return "COM1 = \\Device\\Serial0"; }
  std::vector<std::string> calls;
};

class MainDialogTest : public ::testing::Test {
 protected:
  MainDialogTest() : dialog(GetModuleHandleW(nullptr), ui) { dialog.Attach(&actions); }

  HWND Item(int id) const { return GetDlgItem(dialog.Window(), id); }
  void Command(int id, int code) {
    SendMessageW(dialog.Window(), WM_COMMAND, MAKEWPARAM(id, code),
                 reinterpret_cast<LPARAM>(Item(id)));
  }
  // A key pressed while the window has the keyboard, through the pump.
  void Key(WPARAM key) {
    PostMessageW(dialog.Window(), WM_KEYDOWN, key, 0);
    ui.DoEvents();
  }
  std::wstring ListText(int row) const {
    wchar_t text[256] = {};
    SendMessageW(Item(IDC_LSTPLAYLIST), LB_GETTEXT, static_cast<WPARAM>(row),
                 reinterpret_cast<LPARAM>(text));
    return text;
  }

  platform::win::WinUserInterface ui;
  MainDialog dialog;
  RecordedActions actions;
};

TEST_F(MainDialogTest, ClicksAndSelectionsReachThePresenter) {
  const struct {
    int id;
    int code;
    const char* call;
  } cases[] = {
      {IDC_CMDSHOWSTART, BN_CLICKED, "Start"},
      {IDC_CMDSTOP, BN_CLICKED, "Stop"},
      {IDC_CMDPLAYLISTADD, BN_CLICKED, "Add"},
      {IDC_CMDPLAYLISTREMOVE, BN_CLICKED, "Remove"},
      {IDC_CMDPLAYLISTMOVEUP, BN_CLICKED, "MoveUp"},
      {IDC_CMDPLAYLISTMOVEDOWN, BN_CLICKED, "MoveDown"},
      {IDC_CBOPORT, CBN_SELCHANGE, "ChoiceChanged 0"},
      {IDC_CBODATARATE, CBN_SELCHANGE, "ChoiceChanged 1"},
      {IDC_CBOFRAMECOMP, CBN_SELCHANGE, "ChoiceChanged 2"},
      {IDC_CBOSTARTTIME, CBN_SELCHANGE, "ChoiceChanged 3"},
      {IDC_CBOENDTIME, CBN_SELCHANGE, "ChoiceChanged 4"},
  };
  for (const auto& c : cases) {
    actions.calls.clear();
    Command(c.id, c.code);
    EXPECT_EQ(actions.calls, std::vector<std::string>{c.call}) << c.id;
  }
  // A list opened and closed again changes nothing.
  actions.calls.clear();
  Command(IDC_CBOPORT, CBN_DROPDOWN);
  Command(IDC_CBOPORT, CBN_CLOSEUP);
  EXPECT_TRUE(actions.calls.empty());
}

TEST_F(MainDialogTest, KeysActOnlyWhereTheirButtonCouldBeClicked) {
  const struct {
    WPARAM key;
    Control button;
    const char* call;
  } cases[] = {{VK_F5, Control::Start, "Start"},
               {VK_INSERT, Control::Add, "Add"},
               {VK_DELETE, Control::Remove, "Remove"}};
  for (const auto& c : cases) {
    dialog.SetEnabled(c.button, false);
    actions.calls.clear();
    Key(c.key);
    EXPECT_TRUE(actions.calls.empty()) << c.call << " ran while its button was disabled";
    dialog.SetEnabled(c.button, true);
    Key(c.key);
    EXPECT_EQ(actions.calls, std::vector<std::string>{c.call});
  }
}

TEST_F(MainDialogTest, EscapeKeepsTheWindowAndClosingAsksThePresenter) {
  Command(IDCANCEL, BN_CLICKED);
  EXPECT_TRUE(actions.calls.empty());
  EXPECT_TRUE(IsWindow(dialog.Window()));
  SendMessageW(dialog.Window(), WM_CLOSE, 0, 0);
  EXPECT_EQ(actions.calls, std::vector<std::string>{"QueryUnload"});
  // The presenter ends the program; the window itself stays until then.
  EXPECT_TRUE(IsWindow(dialog.Window()));
}

TEST_F(MainDialogTest, EnterClicksTheFocusedStartOrStop) {
  for (const auto& [id, call] :
       {std::pair{IDC_CMDSHOWSTART, "Start"}, std::pair{IDC_CMDSTOP, "Stop"}}) {
    SendMessageW(dialog.Window(), WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(Item(id)), TRUE);
    if (GetFocus() != Item(id)) SKIP_OUTSIDE_CI("no keyboard focus without a desktop");
    actions.calls.clear();
    Command(IDOK, BN_CLICKED);
    EXPECT_EQ(actions.calls, std::vector<std::string>{call});
  }
}

TEST_F(MainDialogTest, ChoicesAreSelectedWithoutTellingThePresenter) {
  dialog.SetChoices(Choice::DataRate, {"56000", "115200"});
  EXPECT_EQ(dialog.SelectedChoice(Choice::DataRate), -1);
  EXPECT_EQ(dialog.SelectedChoiceText(Choice::DataRate), "");
  dialog.SelectChoice(Choice::DataRate, 1);
  ui.DoEvents();
  EXPECT_EQ(dialog.SelectedChoice(Choice::DataRate), 1);
  EXPECT_EQ(dialog.SelectedChoiceText(Choice::DataRate), "115200");
  EXPECT_TRUE(actions.calls.empty());
  // Filled again: no selection until one is made.
  dialog.SetChoices(Choice::DataRate, {"56000"});
  EXPECT_EQ(dialog.SelectedChoice(Choice::DataRate), -1);
  dialog.SelectChoice(Choice::DataRate, -1);
  EXPECT_EQ(dialog.SelectedChoiceText(Choice::DataRate), "");
}

TEST_F(MainDialogTest, PlaylistKeepsEachEntrysBytesAndData) {
  playlist::ListBox& list = dialog.PlaylistBox();
  const std::string windows1252 = "Caf\xE9 Carol - C:\\Shows\\caf\xE9.msq";
  const std::string utf8 = "Caf\xC3\xA9 Carol - C:\\Shows\\b.msq";
  list.InsertItem(0, windows1252);
  list.InsertItem(1, "Last");
  list.InsertItem(1, utf8);
  ASSERT_EQ(list.Count(), 3);
  EXPECT_EQ(list.Text(0), windows1252);
  EXPECT_EQ(list.Text(1), utf8);
  EXPECT_EQ(list.Text(2), "Last");
  // Both spellings show the same letters.
  EXPECT_EQ(ListText(0).substr(0, 4), L"Caf\u00E9");
  EXPECT_EQ(ListText(1).substr(0, 4), L"Caf\u00E9");
  list.SetItemData(1, -7);
  EXPECT_EQ(list.ItemData(1), -7);
  EXPECT_EQ(list.ItemData(0), 0);
  list.Select(2);
  EXPECT_EQ(list.SelectedIndex(), 2);
  list.RemoveItem(0);
  EXPECT_EQ(list.Text(0), utf8);
  EXPECT_EQ(list.ItemData(0), -7);
  EXPECT_EQ(list.SelectedIndex(), 1);
  list.Select(-1);
  EXPECT_EQ(list.SelectedIndex(), -1);
  EXPECT_THROW(list.Text(2), std::out_of_range);
  EXPECT_THROW(list.RemoveItem(-1), std::out_of_range);
  EXPECT_THROW(list.InsertItem(5, "x"), std::out_of_range);
  EXPECT_THROW(list.Select(7), std::out_of_range);
  list.Clear();
  EXPECT_EQ(list.Count(), 0);
  EXPECT_EQ(SendMessageW(Item(IDC_LSTPLAYLIST), LB_GETCOUNT, 0, 0), 0);
}

TEST_F(MainDialogTest, ShowsWhatThePresenterSays) {
  dialog.SetStatusLine(
      {"Show Running... Press Stop To Stop The Show And/Or Change Settings", kOrange});
  dialog.SetNoticeLine(
      {"Next show: Tue 8 Dec, 5:30 PM", "Next show: Tue 8 Dec, 5:30 PM\n9:00:01 PM  x", kDarkRed});
  dialog.SetKeepAliveBox({"3", kRed});
  dialog.SetLateCountBox({"1", kRed});
  dialog.SetNowPlaying("Playlist entry 1 of 2\nWine Carol\nC:\\song.wav");
  dialog.SetScheduleTitle("Show Schedule (calendar.toml in use)");
  dialog.SetButtonFace(Control::Start, kButtonHighlight);
  dialog.SetButtonFace(Control::Stop, kButtonFace);
  dialog.SetToolTip(Control::StartTime, "calendar.toml decides when the show plays");

  EXPECT_EQ(dialog.ControlText(IDC_LBLSTATUS),
            "Show Running... Press Stop To Stop The Show And/Or Change Settings");
  EXPECT_EQ(dialog.ControlText(IDC_LBLNOTICE), "Next show: Tue 8 Dec, 5:30 PM");
  EXPECT_EQ(dialog.ToolTipOf(IDC_LBLNOTICE), "Next show: Tue 8 Dec, 5:30 PM\n9:00:01 PM  x");
  EXPECT_EQ(dialog.ControlText(IDC_TEXT1), "3");
  EXPECT_EQ(dialog.BackgroundOf(IDC_TEXT1), kRed);
  EXPECT_EQ(dialog.ControlText(IDC_TEXT2), "1");
  // A static control breaks lines at "\r\n".
  EXPECT_EQ(dialog.ControlText(IDC_LBLNOWPLAYING),
            "Playlist entry 1 of 2\r\nWine Carol\r\nC:\\song.wav");
  EXPECT_EQ(dialog.ControlText(IDC_FRAME4), "Show Schedule (calendar.toml in use)");
  EXPECT_EQ(dialog.FaceOf(Control::Start), kButtonHighlight);
  EXPECT_EQ(dialog.FaceOf(Control::Stop), kButtonFace);
  EXPECT_EQ(dialog.ToolTipOf(IDC_CBOSTARTTIME), "calendar.toml decides when the show plays");
  EXPECT_FALSE(dialog.ToolTipOf(IDC_TEXT1).empty());

  dialog.SetPhonePage("Phone page: http://127.0.0.1:8080/");
  EXPECT_TRUE(GetWindowLongPtrW(Item(IDC_LBLPHONEPAGE), GWL_STYLE) & WS_VISIBLE);
  dialog.SetPhonePage("");
  EXPECT_FALSE(GetWindowLongPtrW(Item(IDC_LBLPHONEPAGE), GWL_STYLE) & WS_VISIBLE);
  dialog.ShowImportingPanel(true);
  EXPECT_TRUE(GetWindowLongPtrW(Item(IDC_LBLIMPORTING), GWL_STYLE) & WS_VISIBLE);
  EXPECT_EQ(dialog.ControlText(IDC_LBLIMPORTING),
            "Please wait while the sequence is being imported...");
  dialog.ShowImportingPanel(false);
  EXPECT_FALSE(GetWindowLongPtrW(Item(IDC_FRMIMPORTING), GWL_STYLE) & WS_VISIBLE);
}

// The Phone Page button opens the link with its code, painted module by
// module with its light quiet zone; a new code reaches the open window.
TEST_F(MainDialogTest, ThePhonePageButtonShowsTheCodeItWasGiven) {
  PhonePageCode code;
  code.link = "http://192.168.1.20:8080/#token=abc";
  code.modules.assign(21, std::vector<bool>(21, false));
  code.modules[0][0] = true;
  code.note = "Point the phone's camera at the code";
  dialog.SetPhonePageCode(code);
  EXPECT_EQ(dialog.PhonePage(), nullptr);
  Command(IDC_CMDPHONEPAGE, BN_CLICKED);
  ASSERT_NE(dialog.PhonePage(), nullptr);
  const HWND shown = dialog.PhonePage()->Window();
  EXPECT_TRUE(IsWindowVisible(shown));
  EXPECT_EQ(GetWindow(shown, GW_OWNER), dialog.Window());
  EXPECT_EQ(dialog.PhonePage()->Code(), code);
  EXPECT_TRUE(actions.calls.empty());

  // Painted into a bitmap as the screen would get it: light around the
  // code, the first module dark, four modules in.
  RECT client{};
  GetClientRect(shown, &client);
  const HDC screen = GetDC(shown);
  const HDC memory = CreateCompatibleDC(screen);
  const HBITMAP bitmap = CreateCompatibleBitmap(screen, client.right, client.bottom);
  const HGDIOBJ old = SelectObject(memory, bitmap);
  SendMessageW(shown, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(memory), PRF_CLIENT);
  const int cell = dialog.Dpi() * 5 / 96;
  const int left = (client.right - 29 * cell) / 2;
  const int top = dialog.Dpi() * 10 / 96;
  EXPECT_EQ(GetPixel(memory, left + cell / 2, top + cell / 2), RGB(255, 255, 255));
  EXPECT_EQ(GetPixel(memory, left + 4 * cell + cell / 2, top + 4 * cell + cell / 2), RGB(0, 0, 0));
  EXPECT_EQ(GetPixel(memory, left + 5 * cell + cell / 2, top + 4 * cell + cell / 2),
            RGB(255, 255, 255));
  SelectObject(memory, old);
  DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(shown, screen);

  dialog.SetPhonePageCode({});
  EXPECT_EQ(dialog.PhonePage()->Code(), PhonePageCode{});
}

TEST_F(MainDialogTest, EveryControlOfTheStatesIsADistinctControl) {
  const Control all[] = {Control::Port,      Control::DataRate, Control::FrameTiming,
                         Control::StartTime, Control::EndTime,  Control::Add,
                         Control::Remove,    Control::MoveUp,   Control::MoveDown,
                         Control::Playlist,  Control::Start,    Control::Stop};
  std::vector<int> seen;
  for (Control c : all) {
    const int id = MainDialog::IdOf(c);
    ASSERT_NE(Item(id), nullptr) << static_cast<int>(c);
    EXPECT_EQ(std::count(seen.begin(), seen.end(), id), 0);
    seen.push_back(id);
    dialog.SetEnabled(c, false);
    EXPECT_FALSE(IsWindowEnabled(Item(id)));
    dialog.SetEnabled(c, true);
    EXPECT_TRUE(IsWindowEnabled(Item(id)));
  }
  // The bitmask box starts ticked and belongs to the operator.
  EXPECT_TRUE(dialog.PerformBitmask());
  CheckDlgButton(dialog.Window(), IDC_CHKPERFORMBITMASK, BST_UNCHECKED);
  EXPECT_FALSE(dialog.PerformBitmask());
}

TEST_F(MainDialogTest, PostedWorkRunsFromTheLoopNotInsidePost) {
  int runs = 0;
  dialog.Post([&runs] { ++runs; });
  dialog.Post([&runs] { runs += 10; });
  EXPECT_EQ(runs, 0);
  ui.DoEvents();
  EXPECT_EQ(runs, 11);
  ui.DoEvents();
  EXPECT_EQ(runs, 11);
}

TEST_F(MainDialogTest, WaitingEndsWhenAMessageArrives) {
  int runs = 0;
  dialog.Post([&runs] { ++runs; });
  // A posted message ends a long wait at once.
  ui.WaitForEvents(std::chrono::seconds(60));
  EXPECT_EQ(runs, 1);
}

}  // namespace
}  // namespace shell::win
