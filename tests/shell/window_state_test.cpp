#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <string>
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
  std::vector<bool> Enabled() const {
    std::vector<bool> enabled;
    for (const char* name : kStateControls) enabled.push_back(Child<QWidget>(name).isEnabled());
    return enabled;
  }
  std::uint32_t Face(const char* button) const {
    return shell::frmMain::ColourCode(Button(button));
  }
  std::uint32_t Back(const char* box) const {
    return shell::frmMain::ColourCode(Child<QLineEdit>(box));
  }
  std::string Text(const char* box) const { return Child<QLineEdit>(box).text().toStdString(); }
};

TEST_F(WindowStateTest, EachStateSetsExactlyItsColumn) {
  Start();
  const std::vector<bool> stopped = {true, true, true, true, true, true,
                                     true, true, true, true, true, false};
  const std::vector<bool> busy(12, false);
  const std::vector<bool> runningAfterStopped = {false, false, true,  false, false, false,
                                                 false, false, false, false, false, true};
  std::vector<bool> runningAfterBusy = runningAfterStopped;
  runningAfterBusy[2] = false;  // frame timing left as it was

  EXPECT_EQ(Enabled(), stopped);
  window->SetBusyState();
  EXPECT_EQ(Enabled(), busy);
  window->SetRunningState();
  EXPECT_EQ(Enabled(), runningAfterBusy);
  window->SetStoppedState();
  window->SetRunningState();
  EXPECT_EQ(Enabled(), runningAfterStopped);
  window->SetStoppedState();
  EXPECT_EQ(Enabled(), stopped);
  // The check box stays usable in every state; the counters never take input.
  EXPECT_TRUE(Child<QCheckBox>("chkPerformBitmask").isEnabled());
  EXPECT_FALSE(Child<QLineEdit>("Text1").isEnabled());
}

TEST_F(WindowStateTest, ButtonFacesFollowTheStatusWords) {
  Build();
  // Before any status text: Stop highlighted.
  EXPECT_EQ(Face("cmdStop"), shell::kButtonHighlight);
  EXPECT_EQ(Face("cmdShowStart"), shell::kButtonFace);
  window->Form_Load();

  struct Step {
    std::string text;
    std::uint32_t stop;
    std::uint32_t start;
  };
  const std::uint32_t hi = shell::kButtonHighlight;
  const std::uint32_t lo = shell::kButtonFace;
  const std::vector<Step> steps = {
      {playback::kStoppedText, hi, lo},
      {"Ready", hi, lo},  // neither word: unchanged
      {playback::kRunningText, lo, hi},
      {playback::kPausedText, lo, hi},  // neither word: unchanged
      {"Importing 50%", lo, hi},
      {"stopped running", lo, hi},  // words are case-sensitive
      {"Stopped", hi, lo},
      {"Stopped, Running again", lo, hi},  // both: Running decides
  };
  for (const Step& step : steps) {
    window->SetStatus(step.text);
    EXPECT_EQ(window->StatusText(), step.text);
    EXPECT_EQ(Child<QLabel>("lblStatus").text().toStdString(), step.text);
    EXPECT_EQ(Face("cmdStop"), step.stop) << step.text;
    EXPECT_EQ(Face("cmdShowStart"), step.start) << step.text;
  }
}

TEST_F(WindowStateTest, KeepAliveGapsColourAndCountTheLateOnes) {
  Start();
  EXPECT_EQ(Text("Text1"), "0");
  EXPECT_EQ(Text("Text2"), "0");
  const std::uint32_t white = shell::kWindowBackground;
  struct Step {
    int gap;
    std::uint32_t text1Colour;
    std::string text2;
    std::uint32_t text2Colour;
  };
  const std::vector<Step> steps = {
      {1, shell::kGreen, "0", white},        {2, shell::kRed, "1", shell::kRed},
      {0, shell::kGreen, "1", shell::kRed},  {3, shell::kRed, "2", shell::kRed},
      {3, shell::kRed, "3", shell::kRed},  // the same gap again is another late one
      {-1, shell::kGreen, "3", shell::kRed}, {1, shell::kGreen, "3", shell::kRed},
  };
  for (const Step& step : steps) {
    window->SetKeepAliveGap(step.gap);
    EXPECT_EQ(Text("Text1"), std::to_string(step.gap));
    EXPECT_EQ(Back("Text1"), step.text1Colour) << "gap " << step.gap;
    EXPECT_EQ(Text("Text2"), step.text2) << "gap " << step.gap;
    EXPECT_EQ(Back("Text2"), step.text2Colour) << "gap " << step.gap;
  }
}

TEST_F(WindowStateTest, StartWritesOneAndStopWritesZero) {
  Start();
  clock.SetTimeOfDay(12, 0, 0);  // the show waits for its window
  struct Seen {
    bool running;
    std::string autostart, frameTiming, autostartAfterChange;
    int frameTimingRead;
  };
  std::vector<Seen> seen;
  std::size_t writesBeforeStop = 0;
  ui.onDoEvents = [&](int) {
    if (!window->ShowRunning() || window->StatusText() != playback::kPausedText) return;
    Seen now{true, PreferencesLine(6), "", "", 0};
    // Only the frame timing can change while the show runs; it keeps the "1".
    if (List("cboFrameComp").isEnabled()) List("cboFrameComp").setCurrentIndex(7);
    now.frameTiming = PreferencesLine(3);
    now.autostartAfterChange = PreferencesLine(6);
    now.frameTimingRead = window->FrameTiming();
    seen.push_back(now);
    writesBeforeStop = files.written.size();
    Button("cmdStop").click();
  };
  Button("cmdShowStart").click();

  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].autostart, "1");
  EXPECT_EQ(seen[0].frameTiming, "8");
  EXPECT_EQ(seen[0].autostartAfterChange, "1");
  EXPECT_EQ(seen[0].frameTimingRead, 8);
  EXPECT_FALSE(window->ShowRunning());
  EXPECT_EQ(PreferencesLine(6), "0");
  EXPECT_EQ(files.written.size(), writesBeforeStop + 1);
}

TEST_F(WindowStateTest, ClosingWithStoppedAudioOnlyClosesIt) {
  Start();
  const int yieldsBefore = ui.doEventsCount;
  window->close();
  EXPECT_EQ(audio.stops, 0);
  EXPECT_EQ(audio.closes, 1);
  EXPECT_EQ(port.closeCount, 0);
  EXPECT_EQ(ui.doEventsCount, yieldsBefore + 1);
  EXPECT_EQ(endCodes, std::vector<int>{0});
}

TEST_F(WindowStateTest, PlaylistButtonsReachThePlaylist) {
  WriteFile(dir.File("playlist.txt"),
            "\xB0"
            "0.94\r\n/a/1.wav\r\n/c/1.csq\r\nOne\r\n/s/1.msq\r\n0.94\r\n"
            "/a/2.wav\r\n/c/2.csq\r\nTwo\r\n/s/2.msq\r\n0.94\r\n");
  Start();
  auto& list = Child<QListWidget>("lstPlayList");
  window->SelectPlaylistRow(1);
  Button("cmdPlayListMoveUp").click();
  ASSERT_EQ(list.count(), 2);
  EXPECT_EQ(list.item(0)->text().toStdString(), "Two");
  EXPECT_EQ(window->PlaylistEntryAt(0).AudioPath, "/a/2.wav");
}

}  // namespace
}  // namespace shelltest
