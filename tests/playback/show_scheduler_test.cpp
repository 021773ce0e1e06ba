#include "playback/show_scheduler.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "playback/serial_link.h"
#include "tests/playback/playback_rig.h"

namespace {

using playback_test::Level;
using Kind = playback_test::Trace::Kind;
using Times = std::vector<long long>;
using States = std::vector<std::string>;

constexpr long long kDayMs = 24LL * 3600 * 1000;

long long Ms(int day, int hours, int minutes, int seconds, int millis = 0) {
  return day * kDayMs + ((hours * 60LL + minutes) * 60 + seconds) * 1000 + millis;
}

TEST(ParseTimeOfDay, ReadsTheTimesTheWindowShows) {
  const std::pair<const char*, int> times[] = {
      {"5:30:00 PM", 63000},  {"12:00:00 AM", 0},   {"12:00:00 PM", 43200},
      {"11:59:59 PM", 86399}, {"1:00:00 am", 3600}, {" 2:00:00 AM ", 7200},
      {"17:30:00", 63000},    {"7:15 PM", 69300},   {"5:30:00PM", 63000}};
  for (const auto& [text, seconds] : times) EXPECT_EQ(playback::ParseTimeOfDay(text), seconds);
  for (const char* text : {"", "noon", "13:00:00 PM", "0:00:00 AM", "5:60:00 PM", "5:30:60 PM",
                           "5:30:00 XM", "24:00:00"}) {
    EXPECT_EQ(playback::ParseTimeOfDay(text), std::nullopt) << text;
  }
}

// The show over simulated days: every sleep is 100 ms of the fake clock, and
// every poll of a song moves the audio and the clock by `stepMs`.
struct SchedulerRig : playback_test::Rig {
  SchedulerRig() {
    window.showRunning = false;
    window.onSelect = [this](int row) {
      playRows.push_back(row);
      playTimes.push_back(clock.ms);
      if (stopWhen && stopWhen()) window.showRunning = false;
    };
    clock.onSleep = [this](int) {
      portOpenWhilePaused |= port.IsOpen();
      if (stopWhen && stopWhen()) window.showRunning = false;
    };
  }

  // Entries named a, b, ... whose songs last `lengthsMs`.
  void Songs(const std::vector<long long>& lengthsMs, long long stepMs = 1000) {
    std::map<std::string, long long> lengths;
    for (std::size_t i = 0; i < lengthsMs.size(); ++i) {
      const int row = AddEntry(std::string(1, static_cast<char>('a' + i)), {Level(0, 1)});
      lengths[window.entries[row].AudioPath] = lengthsMs[i];
    }
    audio.onPoll = [this, lengths, stepMs](fakes::FakeAudioPlayer& fake) {
      fake.position += static_cast<double>(stepMs) / 1000.0;
      clock.Advance(stepMs);
      const long long length = lengths.at(fake.opened.back());
      if (fake.position * 1000.0 >= static_cast<double>(length) - 0.5) {
        fake.state = platform::kPlayStateStopped;
      }
    };
  }
  void StopAtPlay(std::size_t n) {
    stopWhen = [this, n] { return playRows.size() >= n; };
  }
  void Start() { session.Start(playback::Origin{"Start button"}); }

  std::vector<int> playRows;  // the rows selected to play, in order
  Times playTimes;            // and when
  std::function<bool()> stopWhen;
  bool portOpenWhilePaused = false;
};
class ShowSchedulerTest : public testing::Test, protected SchedulerRig {};

// A port left open is closed and opened again, so the controllers hear the
// burst again.
TEST_F(ShowSchedulerTest, StartSetsRunningSavesYieldsThenAnnouncesOnThePort) {
  ASSERT_TRUE(session.Link().OpenPort().ok());
  trace.events.clear();
  Songs({3000});
  StopAtPlay(1);
  Start();

  EXPECT_EQ(window.savedWhileRunning, std::vector<bool>{true});
  ASSERT_GE(trace.events.size(), 3u);
  EXPECT_EQ(trace.events[0].text, playback::kRunningText);
  EXPECT_EQ(trace.events[1].kind, Kind::Yield);
  EXPECT_EQ(trace.events[2].text, playback::kPortOpenBurst);
  EXPECT_EQ(port.openCount, 2);
  EXPECT_EQ(port.closeCount, 2);  // before the new open, and at the end
  // Stopped inside the entry: the show ends.
  EXPECT_EQ(window.states, (States{"running", "stopped"}));
  EXPECT_EQ(window.Status(), playback::kStoppedText);
}

TEST_F(ShowSchedulerTest, WindowOpensOnItsStartSecondAndRunningTextReturns) {
  window.startTime = "5:30:00 PM";
  window.endTime = "11:00:00 PM";
  clock.ms = Ms(0, 17, 29, 59);
  Songs({10000});
  StopAtPlay(2);
  Start();

  EXPECT_EQ(playTimes, (Times{Ms(0, 17, 30, 0), Ms(0, 17, 30, 10)}));
  EXPECT_EQ(window.statuses, (States{playback::kRunningText, playback::kPausedText,
                                     playback::kRunningText, playback::kStoppedText}));
  EXPECT_EQ(clock.sleeps, 10);
  // Opened by Start, closed by the first pause pass, opened by the entry.
  EXPECT_EQ(port.openCount, 2);
  EXPECT_FALSE(portOpenWhilePaused);
}

// Inside the window at once, or after waiting for it. Not stopped by the
// user: the autostart flag saved at the start stays on.
TEST_F(ShowSchedulerTest, EmptyPlaylistShowsTheMessageAndStops) {
  for (const bool waits : {false, true}) {
    SCOPED_TRACE(waits ? "outside the window" : "inside the window");
    SchedulerRig r;
    if (waits) r.window.startTime = "5:30:00 PM";
    r.clock.ms = Ms(0, 17, 0, 0);
    r.Start();
    EXPECT_EQ(r.ui.messages, std::vector<std::string>{playback::kEmptyPlaylistMessage});
    EXPECT_EQ(r.clock.ms, waits ? Ms(0, 17, 30, 0) : Ms(0, 17, 0, 0));
    EXPECT_EQ(r.window.Status(), playback::kStoppedText);
    EXPECT_TRUE(r.window.showRunning);
    EXPECT_FALSE(r.port.IsOpen());
  }
}

TEST_F(ShowSchedulerTest, PortThatWillNotOpenOnStartIsReportedAndEndsTheShow) {
  port.openError = "No such file or directory";
  Songs({1000});
  Start();
  ASSERT_EQ(ui.messages.size(), 1u);
  // Start's own message, not the autostart's: it names the port and why.
  EXPECT_EQ(ui.messages[0].rfind("The show could not start.\r\n\r\nSerial port COM3 could not be "
                                 "opened: No such file or directory\r\n",
                                 0),
            0u)
      << ui.messages[0];
  EXPECT_EQ(window.Status(), playback::kStoppedText);
  EXPECT_TRUE(audio.opened.empty());
}

TEST_F(ShowSchedulerTest, NothingPlayableWaitsTenSecondsAndRecoversWhenTheFileReturns) {
  Songs({2000});
  const std::string cache = window.entries[0].CachePath;
  std::filesystem::remove(cache);
  stopWhen = [&] {
    if (clock.sleeps == 250) WriteCache(cache, {Level(0, 1)});  // the file is back
    return playRows.size() >= 4;
  };
  const long long start = clock.ms;
  Start();

  // Three passes skip it (after 0, 10 and 20 s of waiting); the fourth plays.
  EXPECT_EQ(playTimes, (Times{start, start + 10000, start + 20000, start + 30000}));
  EXPECT_EQ(audio.opened.size(), 1u);
  EXPECT_EQ(clock.sleeps, 300);
  EXPECT_FALSE(portOpenWhilePaused);
  const auto retry = std::find_if(window.notices.begin(), window.notices.end(), [](auto& s) {
    return s.rfind(playback::kNothingPlayableText, 0) == 0;
  });
  ASSERT_NE(retry, window.notices.end());
  EXPECT_EQ(window.statuses, (States{playback::kRunningText, playback::kStoppedText}));
  EXPECT_TRUE(playback_test::Contains(*retry, "a.csq"));
}

TEST_F(ShowSchedulerTest, StopDuringTheRetryWaitEndsTheShow) {
  AddEntryFiles("ghost", dir.File("ghost.csq"));
  stopWhen = [this] { return clock.sleeps >= 7; };
  Start();
  EXPECT_EQ(clock.sleeps, 7);
}

// What the show log hears: each change of the daily window once (not every
// pause pass), each entry, the port, late keep-alives, and how the show ended.
// (A port lost and back is the serial link's to log.)
TEST_F(ShowSchedulerTest, LogsEachEventOnceInTheOrderItHappened) {
  window.startTime = "5:30:00 PM";
  window.endTime = "11:00:00 PM";
  clock.ms = Ms(0, 17, 29, 58);
  Songs({6000}, 3000);  // the clock runs 3 s per poll: late keep-alives
  AddEntryFiles("ghost", dir.File("ghost.csq"));
  StopAtPlay(7);
  Start();

  // The reason a file cannot be read is the cache reader's business. Late
  // keep-alives come with the clock's steps, and their repeats are counted in
  // a line of their own.
  const std::string late = "Late keep-alive: 3 seconds since the one before";
  std::vector<std::string> logged;
  for (std::string line : window.logged) {
    if (line.find("skipped: ") != std::string::npos) line.erase(line.find(".csq: ") + 6);
    if (line != late && line != "(the line before repeated 1 more time)") logged.push_back(line);
  }
  const std::string skipped = "Entry 2 skipped: sequence file " + dir.File("ghost.csq") + ": ";
  States expected = {"Show started (Start button)",
                     "Port COM3 opened",
                     "Show paused: waiting for its daily window 5:30:00 PM to 11:00:00 PM",
                     "Show resumed: inside its daily window",
                     "Entry 1 started: a",
                     "Port COM3 opened"};
  for (int pass = 0; pass < 3; ++pass) {
    expected.insert(expected.end(),
                    {"Entry 1 finished", "Entry 2 started: ghost", skipped, "Entry 1 started: a"});
  }
  expected.push_back("Entry 1 stopped");
  EXPECT_EQ(logged, expected);
  EXPECT_GE(std::count(window.logged.begin(), window.logged.end(), late), 2);
}

// A machine without sound plays every song silently: the song's note says
// why, and the log says it once per show and again when the reason changes.
TEST_F(ShowSchedulerTest, SilentPlaybackIsLoggedOncePerReason) {
  Songs({1000, 1000});
  audio.silent = true;
  audio.silentReason = "no audio device";
  stopWhen = [this] {
    if (playRows.size() == 4) audio.silentReason = "the device went away";
    return playRows.size() >= 6;
  };
  Start();
  EXPECT_EQ(window.LoggedWith("plays silently"),
            (States{"Entry 1 plays silently: no audio device",
                    "Entry 2 plays silently: the device went away"}));
  EXPECT_EQ(window.playingNote, "Plays silently: the device went away");
  EXPECT_EQ(window.statuses, (States{playback::kRunningText, playback::kStoppedText}))
      << "the status line keeps its own texts";
}

// The sound output is opened at the start of each pass over the playlist,
// and the first entry starts once it plays what it is given (an idle audio
// server can take seconds to hear a new output): meanwhile the controllers
// get a keep-alive every 0.431 s. It is not waited for longer than 3 s, nor
// after a Stop.
TEST_F(ShowSchedulerTest, FirstEntryWaitsForTheSoundOutputWithKeepAlivesMeanwhile) {
  struct Case {
    const char* name;
    long long readyAfterMs;  // of waiting; -1: never
    long long stopAfterMs;   // of waiting; -1: never
    long long firstEntryMs;  // when the first entry starts, from the start
    Times keepAlivesMs;      // keep-alives while waiting
  };
  const Case cases[] = {
      {"ready at once", 0, -1, 0, {}},
      {"ready after 1.2 s", 1200, -1, 1200, {435, 870}},
      {"never ready", -1, -1, 3000, {435, 870, 1305, 1740, 2175, 2610}},
      {"stopped while waiting", -1, 700, -1, {435}},
  };
  const std::string keepAlive(playback::kKeepAliveMessage);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SchedulerRig r;
    r.Songs({1000, 1000});
    r.StopAtPlay(3);  // the first entry of the second pass
    long long waitedMs = 0;
    r.audio.outputReady = [&] { return c.readyAfterMs >= 0 && waitedMs >= c.readyAfterMs; };
    Times keepAlivesMs;
    std::size_t seen = std::string::npos;
    r.ui.onWait = [&](std::chrono::microseconds waited) {
      r.clock.Advance(waited.count() / 1000);
      // Only the wait before the first entry, and what it sent itself.
      if (!r.playRows.empty()) return;
      if (seen == std::string::npos) seen = r.trace.events.size();
      for (; seen < r.trace.events.size(); ++seen) {
        if (r.trace.events[seen].text == keepAlive) keepAlivesMs.push_back(waitedMs);
      }
      waitedMs += waited.count() / 1000;
      if (c.stopAfterMs >= 0 && waitedMs >= c.stopAfterMs) r.window.showRunning = false;
    };
    const long long start = r.clock.ms;
    r.Start();
    EXPECT_EQ(keepAlivesMs, c.keepAlivesMs);
    if (c.firstEntryMs < 0) {
      EXPECT_EQ(r.audio.outputsOpenedAhead, 1);
      // The entry it was waiting for ends at its first look at the show.
      EXPECT_LE(r.playRows.size(), 1u) << "played on after Stop";
      EXPECT_TRUE(r.playTimes.empty() || r.playTimes[0] - start == c.stopAfterMs);
      EXPECT_EQ(r.window.states, (States{"running", "stopped"}));
    } else {
      EXPECT_EQ(r.audio.outputsOpenedAhead, 2) << "once per pass";
      ASSERT_FALSE(r.playTimes.empty());
      EXPECT_EQ(r.playTimes[0] - start, c.firstEntryMs);
    }
  }
}

}  // namespace
