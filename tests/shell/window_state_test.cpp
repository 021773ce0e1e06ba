#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <functional>
#include <string>
#include <tuple>
#include <vector>

#include "playback/show_scheduler.h"
#include "shell/colour_code.h"
#include "tests/shell/window_fixture.h"

namespace shelltest {
namespace {

// The twelve controls the states switch, in the order of the state table.
const char* const kStateControls[] = {
    "cboPort",           "cboDataRate",       "cboFrameComp",
    "cboStartTime",      "cboEndTime",        "cmdPlayListAdd",
    "cmdPlaylistRemove", "cmdPlayListMoveUp", "cmdPlaylistMoveDown",
    "lstPlayList",       "cmdShowStart",      "cmdStop"};

class WindowStateTest : public WindowTest {
 protected:
  std::string Text(const char* box) const { return Child<QLineEdit>(box).text().toStdString(); }
};

TEST_F(WindowStateTest, EachStateSetsExactlyItsColumn) {
  Start();
  using State = void (shell::frmMain::*)();
  const std::pair<State, const char*> steps[] = {
      {nullptr, "111111111110"},  // after start-up
      {&shell::frmMain::SetBusyState, "000000000000"},
      // The frame timing is left as it was: disabled after busy...
      {&shell::frmMain::SetRunningState, "000000000001"},
      {&shell::frmMain::SetStoppedState, "111111111110"},
      // ...enabled after stopped.
      {&shell::frmMain::SetRunningState, "001000000001"},
      {&shell::frmMain::SetStoppedState, "111111111110"}};
  for (std::size_t i = 0; i < std::size(steps); ++i) {
    if (steps[i].first) (window.get()->*steps[i].first)();
    std::string enabled;  // '1' for each of kStateControls enabled
    for (const char* name : kStateControls) enabled += Child<QWidget>(name).isEnabled() ? '1' : '0';
    EXPECT_EQ(enabled, steps[i].second) << "step " << i;
    // The check box stays usable in every state; the counters never take input.
    EXPECT_TRUE(Child<QCheckBox>("chkPerformBitmask").isEnabled()) << "step " << i;
    EXPECT_FALSE(Child<QLineEdit>("Text1").isEnabled()) << "step " << i;
  }
}

TEST_F(WindowStateTest, ButtonFacesFollowTheStatusWords) {
  Build();
  // Before any status text: Stop highlighted.
  EXPECT_EQ(Colour("cmdStop"), shell::kButtonHighlight);
  EXPECT_EQ(Colour("cmdShowStart"), shell::kButtonFace);
  window->Form_Load();

  const std::uint32_t hi = shell::kButtonHighlight, lo = shell::kButtonFace;
  // The status text; Stop's face, Start's.
  const std::tuple<std::string, std::uint32_t, std::uint32_t> steps[] = {
      {playback::kStoppedText, hi, lo},
      {"Ready", hi, lo},  // neither word: unchanged
      {playback::kRunningText, lo, hi},
      {playback::kPausedText, lo, hi},  // neither word: unchanged
      {"stopped running", lo, hi},      // words are case-sensitive
      {"Stopped", hi, lo},
      {"Stopped, Running again", lo, hi},  // both: Running decides
  };
  for (const auto& [text, stop, start] : steps) {
    window->SetStatus(text);
    EXPECT_EQ(Child<QLabel>("lblStatus").text().toStdString(), text);
    EXPECT_EQ(Colour("cmdStop"), stop) << text;
    EXPECT_EQ(Colour("cmdShowStart"), start) << text;
  }
}

TEST_F(WindowStateTest, KeepAliveGapsColourAndCountTheLateOnes) {
  Start();
  EXPECT_EQ(Text("Text1"), "0");
  EXPECT_EQ(Text("Text2"), "0");
  // The gap; Text1's colour, Text2's text and colour.
  const std::tuple<int, std::uint32_t, std::string, std::uint32_t> steps[] = {
      {1, shell::kGreen, "0", shell::kWindowBackground},
      {2, shell::kRed, "1", shell::kRed},
      {3, shell::kRed, "2", shell::kRed},
      {3, shell::kRed, "3", shell::kRed},  // the same gap again is another late one
      {-1, shell::kGreen, "3", shell::kRed},
  };
  for (const auto& [gap, text1Colour, text2, text2Colour] : steps) {
    window->SetKeepAliveGap(gap);
    EXPECT_EQ(Text("Text1"), std::to_string(gap));
    EXPECT_EQ(Colour("Text1"), text1Colour) << "gap " << gap;
    EXPECT_EQ(Text("Text2"), text2) << "gap " << gap;
    EXPECT_EQ(Colour("Text2"), text2Colour) << "gap " << gap;
  }
}

TEST_F(WindowStateTest, ClosingWithStoppedAudioOnlyClosesIt) {
  Start();
  const int yieldsBefore = ui.doEventsCount;
  window->close();
  // Audio stops and closes, port closes, yields.
  EXPECT_EQ(std::tuple(audio.stops, audio.closes, port.closeCount, ui.doEventsCount - yieldsBefore),
            std::tuple(0, 1, 0, 1));
  EXPECT_EQ(endCodes, std::vector<int>{0});
}

// Every refused write of the settings or the playlist lands in the show log
// with its reason, the second one of a kind too: the operator hears of the
// settings only the first time, so the log is where the rest can be found.
TEST_F(WindowStateTest, RefusedWritesOfSettingsAndPlaylistGoToTheShowLog) {
  WritePlaylist({{"/a/1.wav", "/c/1.csq", "One", "0.94", "/s/1.msq"},
                 {"/a/2.wav", "/c/2.csq", "Two", "0.94", "/s/2.msq"}});
  WritePreferences(kDefaultPreferences);
  Start();
  // The buttons reach the playlist while it can be written.
  auto& list = Child<QListWidget>("lstPlayList");
  window->SelectPlaylistRow(1);
  Button("cmdPlayListMoveUp").click();
  ASSERT_EQ(list.count(), 2);
  EXPECT_EQ(list.item(0)->text().toStdString(), "Two");
  EXPECT_EQ(window->PlaylistEntryAt(0).AudioPath, "/a/2.wav");
  // Why the write is refused, what makes it, the line logged.
  const std::tuple<const char*, std::function<void()>, std::string> cases[] = {
      {"disk full", [&] { List("cboFrameComp").setCurrentIndex(7); },
       "Settings not saved: disk full"},
      {"read-only", [&] { List("cboDataRate").setCurrentIndex(0); },
       "Settings not saved: read-only"},
      {"no space",
       [&] {
         window->SelectPlaylistRow(1);
         Button("cmdPlayListMoveUp").click();
       },
       "Playlist not saved: no space"},
      {"quota",
       [&] {
         window->SelectPlaylistRow(0);
         Button("cmdPlaylistMoveDown").click();
       },
       "Playlist not saved: quota"},
  };
  std::size_t lines = ReadBytes(dir.File("show.log")).size();
  for (const auto& [reason, act, logLine] : cases) {
    SCOPED_TRACE(logLine);
    files.failWith = reason;
    act();
    const std::string log = ReadBytes(dir.File("show.log"));
    // Exactly one new line, "date time offset event".
    ASSERT_GT(log.size(), lines);
    const std::string added = log.substr(lines);
    lines = log.size();
    ASSERT_EQ(added.find('\n'), added.size() - 1) << added;
    EXPECT_EQ(added.substr(26), logLine + "\n") << added;  // after "+0100 "
  }
  // Told of the settings once, of each refused playlist change as it happened.
  EXPECT_EQ(ui.messages.size(), 3u);
}

}  // namespace
}  // namespace shelltest
