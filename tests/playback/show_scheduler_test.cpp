#include "playback/show_scheduler.h"

#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "playback/serial_link.h"
#include "tests/playback/playback_rig.h"

namespace {

using playback_test::Level;
using playback_test::Rig;
using Kind = playback_test::Trace::Kind;

constexpr long long kDayMs = 24LL * 3600 * 1000;

long long Ms(int day, int hours, int minutes, int seconds, int millis = 0) {
  return day * kDayMs + ((hours * 60LL + minutes) * 60 + seconds) * 1000 + millis;
}

// --- Times of day ----------------------------------------------------------

struct TimeCase {
  const char* text;
  std::optional<int> seconds;
};
std::ostream& operator<<(std::ostream& os, const TimeCase& c) {
  return os << '"' << c.text << '"';
}

class ParseTimeOfDayTest : public testing::TestWithParam<TimeCase> {};

TEST_P(ParseTimeOfDayTest, Converts) {
  EXPECT_EQ(playback::ParseTimeOfDay(GetParam().text), GetParam().seconds);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, ParseTimeOfDayTest,
    testing::Values(TimeCase{"5:30:00 PM", 17 * 3600 + 30 * 60}, TimeCase{"12:00:00 AM", 0},
                    TimeCase{"12:30:15 AM", 30 * 60 + 15}, TimeCase{"12:00:00 PM", 12 * 3600},
                    TimeCase{"11:59:59 PM", 86399}, TimeCase{"1:00:00 am", 3600},
                    TimeCase{"09:05:07 AM", 9 * 3600 + 5 * 60 + 7},
                    TimeCase{" 2:00:00 AM ", 2 * 3600}, TimeCase{"17:30:00", 63000},
                    TimeCase{"7:15 PM", 19 * 3600 + 15 * 60}, TimeCase{"", std::nullopt},
                    TimeCase{"noon", std::nullopt}, TimeCase{"13:00:00 PM", std::nullopt},
                    TimeCase{"0:00:00 AM", std::nullopt}, TimeCase{"5:60:00 PM", std::nullopt},
                    TimeCase{"5:30:60 PM", std::nullopt}, TimeCase{"5:30:00 XM", std::nullopt},
                    TimeCase{"24:00:00", std::nullopt}, TimeCase{"5:30:00PM", 63000},
                    TimeCase{"123:00:00", std::nullopt}));

// --- The show --------------------------------------------------------------

class ShowSchedulerTest : public testing::Test {
 protected:
  ShowSchedulerTest() {
    rig.window.showRunning = false;
    rig.window.onSelect = [this](int row) {
      plays.push_back({row, rig.clock.ms});
      if (onPlay) onPlay(static_cast<int>(plays.size()));
    };
  }

  // Songs of the given lengths; every poll moves the audio and the clock by
  // `stepMs`.
  void Songs(std::map<std::string, long long> lengthsMs, long long stepMs = 1000) {
    rig.audio.onPoll = [this, lengthsMs, stepMs](fakes::FakeAudioPlayer& audio) {
      audio.position += static_cast<double>(stepMs) / 1000.0;
      rig.clock.Advance(stepMs);
      const long long length = lengthsMs.at(audio.opened.back());
      if (audio.position * 1000.0 >= static_cast<double>(length) - 0.5) {
        audio.state = platform::kPlayStateStopped;
      }
    };
  }
  std::string Audio(const std::string& name) const { return rig.dir.File(name + ".wav"); }
  void StopShowAt(int play) {
    onPlay = [this, play](int n) {
      if (n == play) rig.window.showRunning = false;
    };
  }
  std::vector<long long> PlayTimes() const {
    std::vector<long long> times;
    for (const auto& p : plays) times.push_back(p.ms);
    return times;
  }
  std::vector<int> PlayRows() const {
    std::vector<int> rows;
    for (const auto& p : plays) rows.push_back(p.row);
    return rows;
  }
  void Run() { scheduler.cmdShowStart_Click(); }

  struct Play {
    int row;
    long long ms;
  };
  Rig rig;
  playback::SerialLink link{rig.port, rig.window, rig.ui, rig.clock};
  playback::ShowScheduler scheduler{rig.window, link, rig.audio, rig.ui, rig.clock};
  std::vector<Play> plays;
  std::function<void(int)> onPlay;
};

TEST_F(ShowSchedulerTest, StartSetsRunningSavesYieldsThenAnnouncesOnThePort) {
  rig.AddEntry("song", {Level(0, 1)});
  Songs({{Audio("song"), 3000}});
  StopShowAt(1);
  Run();

  EXPECT_EQ(rig.window.savedWhileRunning, std::vector<bool>{true});
  ASSERT_GE(rig.trace.events.size(), 3u);
  EXPECT_EQ(rig.trace.events[0].kind, Kind::Status);
  EXPECT_EQ(rig.trace.events[0].text, playback::kRunningText);
  EXPECT_EQ(rig.trace.events[1].kind, Kind::Yield);
  EXPECT_EQ(rig.trace.events[2].kind, Kind::Write);
  EXPECT_EQ(rig.trace.events[2].text, playback::kPortOpenBurst);

  // Stopped inside the entry: the player stops the audio, the show ends.
  EXPECT_EQ(rig.audio.stops, 1);
  EXPECT_EQ(rig.window.states, (std::vector<std::string>{"running", "stopped"}));
  EXPECT_EQ(rig.window.Status(), playback::kStoppedText);
  EXPECT_EQ(rig.trace.events.back().kind, Kind::Yield);
  EXPECT_FALSE(rig.port.IsOpen());
}

TEST_F(ShowSchedulerTest, StartWithThePortOpenReopensItSoTheControllersHearTheBurstAgain) {
  ASSERT_TRUE(link.OpenPort().ok());
  rig.AddEntry("song", {Level(0, 1)});
  Songs({{Audio("song"), 3000}});
  StopShowAt(1);
  Run();
  EXPECT_EQ(rig.port.openCount, 2);
  EXPECT_EQ(rig.port.closeCount, 2);  // before the new open, and at the end
  EXPECT_EQ(rig.trace.Count(Kind::Write, playback::kPortOpenBurst), 16);
}

TEST_F(ShowSchedulerTest, WindowOpensOnItsStartSecondAndRunningTextReturns) {
  rig.window.startTime = "5:30:00 PM";
  rig.window.endTime = "11:00:00 PM";
  rig.clock.ms = Ms(0, 17, 29, 59);
  rig.AddEntry("song", {Level(0, 1)});
  Songs({{Audio("song"), 10000}});
  StopShowAt(2);
  Run();

  EXPECT_EQ(PlayTimes(), (std::vector<long long>{Ms(0, 17, 30, 0), Ms(0, 17, 30, 10)}));
  ASSERT_GE(rig.window.statuses.size(), 3u);
  EXPECT_EQ(rig.window.statuses[0], playback::kRunningText);
  EXPECT_EQ(rig.window.statuses[1], playback::kPausedText);
  EXPECT_EQ(rig.window.statuses[2], playback::kRunningText);
  EXPECT_EQ(rig.clock.sleeps, 10);
  // Opened by Start, closed by the first pause pass, opened by the entry.
  EXPECT_EQ(rig.port.openCount, 2);
}

TEST_F(ShowSchedulerTest, EntryStartedBeforeTheEndPlaysOutThenTheShowWaitsForTomorrow) {
  rig.window.startTime = "5:30:00 PM";
  rig.window.endTime = "11:00:00 PM";
  rig.clock.ms = Ms(0, 22, 59, 30);
  rig.AddEntry("song", {Level(0, 1)});
  Songs({{Audio("song"), 60000}});
  bool portOpenWhilePaused = false;
  rig.clock.onSleep = [&](int) { portOpenWhilePaused |= rig.port.IsOpen(); };
  StopShowAt(2);
  Run();

  EXPECT_EQ(PlayTimes(), (std::vector<long long>{Ms(0, 22, 59, 30), Ms(1, 17, 30, 0)}));
  EXPECT_FALSE(portOpenWhilePaused);
  EXPECT_EQ(rig.port.openCount, 2);
  EXPECT_EQ(rig.audio.opened.size(), 2u);
}

TEST_F(ShowSchedulerTest, EqualStartAndEndMakeAOneSecondWindowThatRestartsAtRowZero) {
  rig.window.startTime = "8:00:00 PM";
  rig.window.endTime = "8:00:00 PM";
  rig.clock.ms = Ms(0, 19, 59, 59);
  rig.AddEntry("first", {Level(0, 1)});
  rig.AddEntry("second", {Level(0, 1)});
  Songs({{Audio("first"), 300}, {Audio("second"), 300}}, 100);
  rig.clock.onSleep = [&](int) {
    if (rig.clock.ms >= Ms(0, 20, 0, 5)) rig.window.showRunning = false;
  };
  Run();

  // Each entry ends inside the end time's own second: the end-time test
  // closes the port, the window test still passes, and row 0 plays again.
  EXPECT_EQ(PlayRows(), (std::vector<int>{0, 0, 0, 0}));
  EXPECT_EQ(PlayTimes(), (std::vector<long long>{Ms(0, 20, 0, 0), Ms(0, 20, 0, 0, 300),
                                                 Ms(0, 20, 0, 0, 600), Ms(0, 20, 0, 0, 900)}));
  EXPECT_EQ(rig.port.openCount, 5);
  EXPECT_EQ(rig.window.Status(), playback::kStoppedText);
}

TEST_F(ShowSchedulerTest, StartLaterThanEndNeverOpensTheWindow) {
  rig.window.startTime = "10:00:00 PM";
  rig.window.endTime = "2:00:00 AM";
  rig.clock.ms = Ms(0, 21, 0, 0);
  rig.AddEntry("song", {Level(0, 1)});
  rig.clock.onSleep = [&](int) {
    if (rig.clock.ms >= Ms(1, 21, 0, 0)) rig.window.showRunning = false;
  };
  Run();
  EXPECT_TRUE(plays.empty());
  EXPECT_EQ(rig.clock.sleeps, 24 * 36000);
  EXPECT_EQ(rig.port.openCount, 1);
  EXPECT_EQ(rig.window.Status(), playback::kStoppedText);
}

TEST_F(ShowSchedulerTest, StopWhilePausedEndsTheShowAtTheNextPausePass) {
  rig.window.startTime = "5:30:00 PM";
  rig.clock.ms = Ms(0, 9, 0, 0);
  rig.AddEntry("song", {Level(0, 1)});
  rig.clock.onSleep = [&](int sleeps) {
    if (sleeps == 5) rig.window.showRunning = false;
  };
  Run();
  EXPECT_EQ(rig.clock.sleeps, 5);
  EXPECT_TRUE(plays.empty());
  EXPECT_EQ(rig.window.states, (std::vector<std::string>{"running", "stopped"}));
  EXPECT_EQ(rig.window.Status(), playback::kStoppedText);
  EXPECT_EQ(rig.trace.events.back().kind, Kind::Yield);
}

TEST_F(ShowSchedulerTest, StartOutsideTheWindowAnnouncesThenClosesThePort) {
  rig.window.startTime = "5:30:00 PM";
  rig.clock.ms = Ms(0, 9, 0, 0);
  rig.AddEntry("song", {Level(0, 1)});
  bool openAtFirstSleep = true;
  rig.clock.onSleep = [&](int sleeps) {
    if (sleeps == 1) openAtFirstSleep = rig.port.IsOpen();
    if (sleeps == 3) rig.window.showRunning = false;
  };
  Run();
  EXPECT_EQ(rig.port.openCount, 1);
  EXPECT_EQ(rig.port.writes.size(), 9u);  // burst x8, keep-alive
  EXPECT_FALSE(openAtFirstSleep);
}

TEST_F(ShowSchedulerTest, EmptyPlaylistInsideTheWindowShowsTheMessageAndStops) {
  Run();
  EXPECT_EQ(rig.ui.messages, std::vector<std::string>{playback::kEmptyPlaylistMessage});
  EXPECT_EQ(rig.window.states, (std::vector<std::string>{"running", "stopped"}));
  EXPECT_EQ(rig.window.Status(), playback::kStoppedText);
  // Not stopped by the user: the autostart flag saved at the start stays on.
  EXPECT_TRUE(rig.window.showRunning);
  EXPECT_FALSE(rig.port.IsOpen());
}

TEST_F(ShowSchedulerTest, EmptyPlaylistOutsideTheWindowWaitsForTheWindowFirst) {
  rig.window.startTime = "5:30:00 PM";
  rig.clock.ms = Ms(0, 17, 0, 0);
  Run();
  EXPECT_EQ(rig.ui.messages, std::vector<std::string>{playback::kEmptyPlaylistMessage});
  EXPECT_EQ(rig.clock.ms, Ms(0, 17, 30, 0));
  EXPECT_EQ(rig.window.Status(), playback::kStoppedText);
}

TEST_F(ShowSchedulerTest, PortThatWillNotOpenOnStartIsReportedAndEndsTheShow) {
  rig.port.openError = "No such file or directory";
  rig.AddEntry("song", {Level(0, 1)});
  Run();
  EXPECT_EQ(rig.ui.messages,
            std::vector<std::string>{
                "The show couldn't autostart because the specified port is invalid.  This could "
                "be because of one of the following reasons:\r\nA) The port is in use by another "
                "application\r\nB) The port number is incorrect"});
  EXPECT_TRUE(plays.empty());
  EXPECT_TRUE(rig.audio.opened.empty());
  EXPECT_EQ(rig.window.states, (std::vector<std::string>{"running", "stopped"}));
  EXPECT_EQ(rig.window.Status(), playback::kStoppedText);
}

TEST_F(ShowSchedulerTest, NothingPlayableWaitsTenSecondsAndRecoversWhenTheFileReturns) {
  const std::string cache = rig.dir.File("late.csq");
  rig.AddEntryFiles("late", cache);
  Songs({{Audio("late"), 2000}});
  bool portOpenWhileWaiting = false;
  rig.clock.onSleep = [&](int sleeps) {
    portOpenWhileWaiting |= rig.port.IsOpen();
    if (sleeps == 250) rig.WriteCache(cache, {Level(0, 1)});
  };
  rig.audio.onPoll = [this, song = rig.audio.onPoll](fakes::FakeAudioPlayer& audio) {
    song(audio);
    rig.window.showRunning = false;
  };
  const long long start = rig.clock.ms;
  Run();

  // Three passes skip it (after 0, 10 and 20 s of waiting); the fourth plays.
  EXPECT_EQ(PlayTimes(),
            (std::vector<long long>{start, start + 10000, start + 20000, start + 30000}));
  EXPECT_EQ(rig.audio.opened.size(), 1u);
  EXPECT_EQ(rig.clock.sleeps, 300);
  EXPECT_FALSE(portOpenWhileWaiting);
  bool retryShown = false;
  for (const auto& s : rig.window.statuses) {
    if (s.rfind(playback::kNothingPlayableText, 0) == 0) {
      retryShown = true;
      EXPECT_NE(s.find("late.csq"), std::string::npos) << s;
    }
  }
  EXPECT_TRUE(retryShown);
}

TEST_F(ShowSchedulerTest, StopDuringTheRetryWaitEndsTheShow) {
  rig.AddEntryFiles("ghost", rig.dir.File("ghost.csq"));
  rig.clock.onSleep = [&](int sleeps) {
    if (sleeps == 7) rig.window.showRunning = false;
  };
  Run();
  EXPECT_EQ(rig.clock.sleeps, 7);
  EXPECT_EQ(rig.window.Status(), playback::kStoppedText);
}

TEST_F(ShowSchedulerTest, SkippedEntryAmongPlayableOnesCausesNoWait) {
  rig.AddEntryFiles("ghost", rig.dir.File("ghost.csq"));
  rig.AddEntry("song", {Level(0, 1)});
  Songs({{Audio("song"), 3000}});
  StopShowAt(4);
  Run();
  EXPECT_EQ(PlayRows(), (std::vector<int>{0, 1, 0, 1}));
  EXPECT_EQ(rig.clock.sleeps, 0);
}

TEST_F(ShowSchedulerTest, TimeTextThatIsNotATimeKeepsTheShowPausedAndSaysWhich) {
  rig.window.endTime = "half past ten";
  rig.AddEntry("song", {Level(0, 1)});
  rig.clock.onSleep = [&](int sleeps) {
    if (sleeps == 3) rig.window.showRunning = false;
  };
  Run();
  EXPECT_TRUE(plays.empty());
  ASSERT_GE(rig.window.statuses.size(), 2u);
  EXPECT_NE(rig.window.statuses[1].find("\"half past ten\""), std::string::npos)
      << rig.window.statuses[1];
}

TEST_F(ShowSchedulerTest, WholePlaylistPlaysInOrderAndTheWindowIsTestedBetweenPasses) {
  rig.window.endTime = "10:00:10 AM";
  rig.clock.ms = Ms(0, 10, 0, 0);
  rig.AddEntry("a", {Level(0, 1)});
  rig.AddEntry("b", {Level(0, 1)});
  rig.AddEntry("c", {Level(0, 1)});
  Songs({{Audio("a"), 1000}, {Audio("b"), 1000}, {Audio("c"), 1000}});
  rig.clock.onSleep = [&](int) { rig.window.showRunning = false; };
  Run();
  // One entry a second from 10:00:00. The entry started at :09 ends at :10,
  // the end time: the pass is abandoned, but :10 is still inside the window,
  // so row 0 plays once more; after it the window has closed.
  EXPECT_EQ(PlayRows(), (std::vector<int>{0, 1, 2, 0, 1, 2, 0, 1, 2, 0, 0}));
  EXPECT_EQ(rig.clock.sleeps, 1);
}

}  // namespace
