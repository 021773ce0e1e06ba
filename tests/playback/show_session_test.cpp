#include "playback/show_session.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "tests/playback/playback_rig.h"

namespace {

using playback_test::Level;
using States = std::vector<std::string>;

// The show's front end side: one session of the rig, songs that last a
// second of fake audio, the clock moved by the polls.
struct ShowSessionTest : testing::Test, playback_test::Rig {
  ShowSessionTest() {
    window.showRunning = false;
    for (const char* name : {"a", "b", "c"}) AddEntry(name, {Level(0, 1), Level(44100, 2)});
    audio.onPoll = [this](fakes::FakeAudioPlayer& fake) {
      fake.position += 0.1;
      clock.Advance(100);
      if (onPoll) onPoll(fake);
      if (fake.position >= 1.0) fake.state = platform::kPlayStateStopped;
    };
  }
  std::function<void(fakes::FakeAudioPlayer&)> onPoll;
};

// `glimmer show` started an hour before its window tells the paused status
// once, not on every pass of the wait (36,000 of them).
TEST_F(ShowSessionTest, PausedStatusIsSentOnceWhileTheShowWaitsAnHour) {
  clock.SetTimeOfDay(16, 0, 0);
  window.startTime = "5:00:00 PM";
  window.endTime = "11:00:00 PM";
  window.onSelect = [this](int) { window.showRunning = false; };
  session.Start(playback::Origin{"glimmer show"});

  EXPECT_GE(clock.sleeps, 36000);
  EXPECT_EQ(window.statuses, (States{playback::kRunningText, playback::kPausedText,
                                     playback::kRunningText, playback::kStoppedText}));
  EXPECT_EQ(window.states, (States{"running", "stopped"}));
}

// A time text the calendar cannot read keeps the show paused with one
// notice while it waits, and the next show tells it again.
TEST_F(ShowSessionTest, LastingNoticeIsSentOncePerShow) {
  window.startTime = "teatime";
  window.onSelect = [this](int) { window.showRunning = false; };
  clock.onSleep = [this](int sleeps) {
    if (sleeps % 50 == 0) window.showRunning = false;
  };
  session.Start(playback::Origin{"Start button"});
  session.Start(playback::Origin{"Start button"});
  ASSERT_EQ(window.notices.size(), 2u);
  EXPECT_EQ(window.notices[0], window.notices[1]);
  EXPECT_TRUE(playback_test::Contains(window.notices[0], "\"teatime\""));
  EXPECT_TRUE(window.selected.empty());
}

// Only a show that ran is logged as stopped; Stop saves the settings even so.
// What closing does is seen where each front end closes.
TEST_F(ShowSessionTest, StopWithoutARunningShowLogsNothingAndSaves) {
  session.Stop(playback::Origin{"Stop button"});
  EXPECT_EQ(window.logged, States{});
  EXPECT_EQ(window.savedWhileRunning, std::vector<bool>{false});
}

// The phone page's requests arrive at the show's yield points: a skip ends
// the song under way and the show goes on; stop-after-song lets it end.
TEST_F(ShowSessionTest, SkipEndsTheSongAndStopAfterSongEndsTheShowAfterIt) {
  onPoll = [this](fakes::FakeAudioPlayer& fake) {
    if (window.selected.size() == 1 && fake.position > 0.25)
      session.Skip(playback::Origin{"phone page"});
    if (window.selected.size() == 2 && fake.position > 0.45) {
      session.StopAfterSong(playback::Origin{"phone page"});
    }
  };
  session.Start(playback::Origin{"Start button"});

  EXPECT_EQ(window.selected, (std::vector<int>{0, 1}));
  EXPECT_FALSE(window.showRunning);
  EXPECT_EQ(window.savedWhileRunning, (std::vector<bool>{true, false}));
  EXPECT_EQ(window.Status(), playback::kStoppedText);
  const States tail(window.logged.end() - 4, window.logged.end());
  EXPECT_EQ(tail, (States{"Entry 1 skipped: skipped on request", "Entry 2 started: b",
                          "Entry 2 finished", "Show stopped (phone page)"}));
}

// What every front end renders comes from the session itself: the entry
// under way with its time, the next one, and a stop after the song asked.
TEST_F(ShowSessionTest, TheStateFollowsTheShowAsItPlays) {
  audio.duration = 1.0;
  std::vector<playback::ShowState> seen;
  onPoll = [this, &seen](fakes::FakeAudioPlayer& fake) {
    if (window.selected.size() == 3 && fake.position > 0.85 && seen.size() == 2) {
      session.StopAfterSong(playback::Origin{"phone page"});
    }
    if (fake.position > 0.85 && seen.size() < window.selected.size()) {
      seen.push_back(session.State());
    }
  };
  session.Start(playback::Origin{"Start button"});

  ASSERT_EQ(seen.size(), 3u);
  for (std::size_t i : {0u, 2u}) {
    SCOPED_TRACE(i);
    const playback::ShowState& state = seen[i];
    EXPECT_EQ(state.phase, playback::ShowState::Phase::Playing);
    ASSERT_TRUE(state.playing && state.next && state.playing->remainingSeconds);
    EXPECT_EQ(std::tuple(state.playing->entry.row, state.playing->entry.listText, state.next->row),
              std::tuple(static_cast<int>(i), std::string(i == 0 ? "a" : "c"), i == 0 ? 1 : 0));
    // Kept at the keep-alives' pace: at most about half a second behind.
    EXPECT_NEAR(state.playing->elapsedSeconds, 0.6, 0.31);
    EXPECT_NEAR(state.playing->elapsedSeconds + *state.playing->remainingSeconds, 1.0, 1e-9);
    EXPECT_TRUE(state.line.portOpen);
  }
  EXPECT_FALSE(seen[0].stopAfterSongAsked);
  EXPECT_TRUE(seen[2].stopAfterSongAsked);
  const playback::ShowState after = session.State();
  EXPECT_EQ(std::tuple(after.phase, after.playing.has_value(), after.stopAfterSongAsked),
            std::tuple(playback::ShowState::Phase::Stopped, false, false));
}

TEST(DailyWindow, TellsWhetherTheShowMayPlayAndWhenItNextMay) {
  struct Case {
    const char* start;
    const char* end;
    int now;  // seconds of the day
    bool inside;
    std::optional<int> next;
    // Whether an entry ending now ends a pass begun as the window opened.
    std::optional<bool> ended;
  };
  const Case cases[] = {
      {"5:30:00 PM", "11:00:00 PM", 63000 - 1, false, 1, false},
      {"5:30:00 PM", "11:00:00 PM", 63000, true, 0, false},
      {"5:30:00 PM", "11:00:00 PM", 82799, true, 0, false},
      {"5:30:00 PM", "11:00:00 PM", 82800, true, 0, true},
      {"5:30:00 PM", "11:00:00 PM", 82801, false, 86400 - 82801 + 63000, true},
      // Equal times: a window of one second.
      {"8:00:00 PM", "8:00:00 PM", 72000, true, 0, true},
      {"8:00:00 PM", "8:00:00 PM", 72001, false, 86399, true},
      {"10:00:00 PM", "2:00:00 AM", 79200, false, std::nullopt, std::nullopt},
      {"noon", "2:00:00 AM", 0, false, std::nullopt, std::nullopt},
      {"5:30:00 PM", "half past ten", 70000, false, std::nullopt, std::nullopt},
  };
  // The second day of the epoch: a night's moments carry the date.
  constexpr int kDay = 86400;
  fakes::FakeClock clock;
  const playback::DailyWindow window;
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.start) + " " + std::to_string(c.now));
    clock.ms = (kDay + c.now) * 1000LL;
    const playback::ShowSettings settings{1, 115200, 5, c.start, c.end};
    EXPECT_EQ(window.InsideNow(settings, clock), c.inside);
    EXPECT_EQ(window.SecondsToNextOpening(settings, clock), c.next);
    const std::optional<playback::ShowNight> tonight = window.NextNightAfter(settings, {kDay, 0});
    ASSERT_EQ(tonight.has_value(), c.ended.has_value());
    if (tonight) {
      EXPECT_EQ(tonight->EndedAt(playback::ReadShowTime(clock)), *c.ended);
    }
  }
  const std::string problem =
      window.NightAt({1, 115200, 5, "5:30:00 PM", "half past ten"}, {kDay, 0}).problem;
  EXPECT_TRUE(playback_test::Contains(problem, "end time \"half past ten\""));
}

TEST(DailyWindow, ANightPlayedPastMidnightHasEndedThoughTheClockReadsEarlier) {
  // An entry that starts at 11:59:00 PM and plays on past midnight: the time
  // of day is then before the end time again, yet the night is over.
  fakes::FakeClock clock((86400 + 86340) * 1000LL);
  const playback::DailyWindow window;
  const playback::ShowSettings settings{1, 115200, 5, "5:30:00 PM", "11:59:59 PM"};
  const std::optional<playback::ShowNight> night =
      window.NightAt(settings, playback::ReadShowTime(clock)).night;
  ASSERT_TRUE(night);
  clock.Advance(120 * 1000);
  EXPECT_TRUE(night->EndedAt(playback::ReadShowTime(clock)));
}

}  // namespace
