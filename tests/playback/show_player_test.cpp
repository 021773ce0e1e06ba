#include "playback/show_player.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

#include "playback/serial_link.h"
#include "tests/playback/playback_rig.h"

namespace {

using playback::PlayOutcome;
using playback_test::Contains;
using playback_test::Hex;
using playback_test::Level;
using playback_test::Row;
using playback_test::ToHex;
using Kind = playback_test::Trace::Kind;

const std::string kKeepAlive = Hex("00 FF 81 00");
constexpr std::int64_t kFar = 50'000'000;  // a row the audio never reaches

struct PlayerRig : playback_test::Rig {
  // Opens the port first so the trace shows only what the entry does.
  void OpenPortAhead() {
    ASSERT_TRUE(session.Link().OpenPort().ok());
    trace.events.clear();
  }
};
class ShowPlayerTest : public testing::Test, protected PlayerRig {};

// The frame timing is read on every pass, so a change counts at once.
TEST_F(ShowPlayerTest, FrameTimingMovesRowsEarlierBy512PositionsPerStep) {
  window.frameTiming = 5;
  const int row = AddEntry("song", {Level(88200, 1), Level(90248, 2), Level(kFar, 3)});
  // 88,200 - 5 x 512 = 85,640 positions, about 0.971 s of audio; from pass 4
  // P = 85,640 + 9 x 512 = 90,248.
  ScriptAudio({85639, 85640, 85640, 85640, 85640}, [this](int poll) {
    if (poll == 4) window.frameTiming = 9;
  });
  EXPECT_EQ(session.PlayEntry(row), PlayOutcome::Finished);
  EXPECT_EQ(trace.Levels(true), "||1||2|");
}

// Three rows at one SampleNumber, the audio one position per pass (P = 512,
// 513, ...): they share a write unless a flush position falls between them.
TEST_F(ShowPlayerTest, RowsDueTogetherShareAWriteUnlessAFlushFallsBetween) {
  const std::pair<std::int32_t, const char*> cases[] = {
      {10000, "123"},
      // Encoded at P = 10,238, 10,239 and 10,240, the flush position.
      {10238, "123"},
      {10239, "12 3"},
      {10240, "1 23"},
  };
  for (const auto& [sample, writes] : cases) {
    PlayerRig r;
    const int row =
        r.AddEntry("song", {Level(sample, 1), Level(sample, 2), Level(sample, 3), Level(kFar, 4)});
    r.SteadyAudio(1, 20000);
    EXPECT_EQ(r.session.PlayEntry(row), PlayOutcome::Finished);
    EXPECT_EQ(r.trace.Levels(), writes) << sample;
  }
}

TEST_F(ShowPlayerTest, PausedAudioSendsNothingAndYieldsEveryPass) {
  const int row = AddEntry("song", {Level(50000, 1), Level(kFar, 2)});
  // 2,000 positions a pass, paused at 18,000 for passes 11 to 110.
  audio.onPoll = [this](fakes::FakeAudioPlayer& fake) {
    trace.Add(Kind::Poll);
    const int n = fake.polls;
    const bool paused = n > 10 && n <= 110;
    const std::int64_t position = 2000 * (n <= 10 ? n - 1 : paused ? 9 : n - 101);
    fake.state = paused ? platform::kPlayStatePaused : platform::kPlayStatePlaying;
    fake.position = playback_test::Seconds(position);
    if (position >= 100000) fake.state = platform::kPlayStateStopped;
  };
  EXPECT_EQ(session.PlayEntry(row), PlayOutcome::Finished);
  EXPECT_EQ(trace.Count(Kind::Yield, {}, 11, 110), 100);
  EXPECT_EQ(trace.Count(Kind::Write, {}, 11, 110), 0);
  // Playing on resumes where it stopped.
  EXPECT_EQ(trace.Levels(), "1");
  EXPECT_EQ(trace.Count(Kind::Write, kKeepAlive, 111), 2);  // at 38,000 and 76,000
}

TEST_F(ShowPlayerTest, LastFadeOfAChannelRunsToTheEndOfTheAudio) {
  audio.duration = 10.0;
  const int row = AddEntry("song", {Row(9 * 88200, 2, 1, 34, 10, 0, std::nullopt, std::nullopt)});
  ScriptAudio({9 * 88200});
  EXPECT_EQ(session.PlayEntry(row), PlayOutcome::Finished);
  // One second left: the codes of a one-second fade.
  EXPECT_EQ(ToHex(port.writes.back()), "00 02 34 0A 00 01 FA 01 00");
}

TEST_F(ShowPlayerTest, RowsOutsideTheByteRangeAreCountedAndTheRestPlays) {
  const int row = AddEntry(
      "song", {Level(1000, 1), Row(1500, 300, 1, 33, 5), Row(1600, 1, 1, 33, 999), Level(2000, 2)});
  SteadyAudio(100, 10000);
  EXPECT_EQ(session.PlayEntry(row), PlayOutcome::Finished);
  EXPECT_EQ(trace.Levels(), "1 2");
  EXPECT_EQ(session.RejectedRowCount(), 2);
  EXPECT_TRUE(Contains(window.Notice(), "2 event(s)"));
  EXPECT_TRUE(Contains(window.Notice(), "song.csq"));
}

TEST_F(ShowPlayerTest, IdlePassesYieldEvery50000AcrossEntries) {
  const int row = AddEntry("song", {Level(kFar, 1)});
  for (const int lastPoll : {30000, 80000}) {
    trace.events.clear();
    audio.polls = 0;
    audio.onPoll = [this, lastPoll](fakes::FakeAudioPlayer& fake) {
      trace.Add(Kind::Poll);
      if (fake.polls == lastPoll) fake.state = platform::kPlayStateStopped;
    };
    EXPECT_EQ(session.PlayEntry(row), PlayOutcome::Finished);
  }
  // 30,000 idle passes carried over: the next yields come 20,000 and 70,000
  // passes into the second entry.
  EXPECT_EQ(trace.PassesOf(Kind::Yield), (std::vector<int>{0, 20000, 70000}));
}

// A song whose first frame is heard late (an audio output that starts
// slowly): its position stays at 0 meanwhile. Every poll is 10 ms of steady
// time; from `heardAtMs` the position follows it, except that it may stand
// at `holdAtMs` of audio until `holdUntilMs` (an output that counted its
// first frames as heard and was then held back).
struct LateSound {
  const char* name;
  long long heardAtMs;
  std::vector<playback_test::Record> rows;
  std::vector<int> keepAliveMs;  // when each keep-alive went out
  std::vector<int> levelMs;      // when each row's write went out
  long long holdAtMs = -1, holdUntilMs = 0;
};

TEST_F(ShowPlayerTest, SoundHeardLateKeepsTheKeepAlivesGoingAndTheRowsWaitForIt) {
  const int kPollMs = 10;
  const LateSound cases[] = {
      // 0.431 s apart from the start of the entry until the sound; the first
      // after it half a second after the last (before 38,000 positions are
      // heard), then every 38,000 positions again. The row at 0.1 s of heard
      // audio (less the 512 positions of lead) waits for the sound.
      {"dispatching",
       1500,
       {Level(9332, 1), Level(kFar, 2)},
       {0, 0, 0, 440, 880, 1320, 1820, 2260, 2690},
       {1600}},
      // The table runs out on the first pass (a row within the lead): the
      // drain keeps the keep-alives going just the same.
      {"draining", 1500, {Level(0, 1)}, {0, 0, 0, 440, 880, 1320, 1820, 2260, 2690}, {10}},
      // Heard at once: the keep-alives follow the position alone.
      {"heard at once", 0, {Level(9332, 1), Level(kFar, 2)}, {0, 0, 0, 430, 860}, {100}},
      // 40 ms counted as heard at once, then nothing until 1.5 s: from the
      // steady clock once the position has stood for an interval, the
      // position's first one half a second after the last.
      {"held back",
       0,
       {Level(9332, 1), Level(kFar, 2)},
       {0, 0, 0, 480, 920, 1360, 1860, 2300},
       {1560},
       40,
       1500},
      // Heard on time, then held back from 1 s to 3 s of the song: half a
      // second after the last keep-alive from the position, then every
      // interval from the steady clock while it stands still; once it moves,
      // the position's next one half a second after the last. The row at
      // 1.2 s of sound (less the lead) waits for it.
      {"stalls mid-song",
       0,
       {Level(105328, 1), Level(kFar, 2)},
       {0, 0, 0, 430, 860, 1360, 1800, 2240, 2680, 3180, 3620, 4050},
       {3190},
       1000,
       3000},
  };
  for (const LateSound& c : cases) {
    SCOPED_TRACE(c.name);
    PlayerRig r;
    r.OpenPortAhead();
    const int row = r.AddEntry("song", c.rows);
    const long long start = r.clock.ms;
    r.audio.onPoll = [&](fakes::FakeAudioPlayer& fake) {
      r.trace.Add(Kind::Poll);
      r.clock.Advance(kPollMs);
      const long long now = r.clock.ms - start;
      long long heardMs = now - c.heardAtMs;
      if (c.holdAtMs >= 0 && heardMs > c.holdAtMs) {
        heardMs = c.holdAtMs + std::max(0LL, now - c.holdUntilMs);
      }
      fake.position = heardMs > 0 ? static_cast<double>(heardMs) / 1000.0 : 0.0;
      if (now >= std::max(c.heardAtMs, c.holdUntilMs) + 1200) {
        fake.state = platform::kPlayStateStopped;
      }
    };
    EXPECT_EQ(r.session.PlayEntry(row), PlayOutcome::Finished);

    std::vector<int> keepAlives, levelMs;  // when each went out
    int polls = 0;
    for (const auto& e : r.trace.events) {
      polls += e.kind == Kind::Poll;
      if (e.kind != Kind::Write) continue;
      if (e.text == kKeepAlive) keepAlives.push_back(polls * kPollMs);
      if (e.text.size() > 4) levelMs.push_back(polls * kPollMs);
    }
    EXPECT_EQ(keepAlives, c.keepAliveMs);
    for (std::size_t i = 1; i < keepAlives.size(); ++i) {
      EXPECT_LE(keepAlives[i] - keepAlives[i - 1], 500)
          << "before the keep-alive at " << keepAlives[i] << " ms";
    }
    EXPECT_EQ(levelMs, c.levelMs);
  }
}

// The audio moves only while the player waits, as real audio does while the
// player sleeps: `onWait` advances it by the time waited.
struct WaitingRig : PlayerRig {
  WaitingRig(double endSeconds, int paused = 0) {
    audio.duration = endSeconds;
    ui.onWait = [this, endSeconds, paused](std::chrono::microseconds waited) {
      waits.push_back(waited);
      // The first `paused` waits the audio stands still (still opening).
      if (static_cast<int>(waits.size()) <= paused) return;
      audio.position += std::chrono::duration<double>(waited).count();
      if (audio.position >= endSeconds) {
        audio.position = endSeconds;
        audio.state = platform::kPlayStateStopped;
      }
    };
  }
  std::vector<std::chrono::microseconds> waits;
};

// A loop that waits for its next moment writes exactly what a loop that looks
// at every single position writes, in the same batches, and the keep-alives
// between them; it just looks far less often and never for more than 5 ms.
TEST_F(ShowPlayerTest, WaitingForTheNextMomentWritesTheSameBatchesAsLookingAtEveryPosition) {
  // Rows on and next to flush positions, several at one moment, a gap of
  // seconds, and one right before the end.
  const std::vector<playback_test::Record> rows = {
      Level(0, 1),     Level(511, 2),   Level(512, 3),    Level(513, 4),    Level(4000, 5),
      Level(4000, 6),  Level(4000, 7),  Level(10239, 8),  Level(10240, 9),  Level(10241, 1),
      Level(90000, 2), Level(90001, 3), Level(176000, 4), Level(200000, 5), Level(264000, 6)};
  constexpr std::int64_t kEnd = 3 * 88200;

  PlayerRig everyPosition;
  everyPosition.audio.duration = 3.0;
  const int row = everyPosition.AddEntry("song", rows);
  everyPosition.SteadyAudio(1, kEnd);
  ASSERT_EQ(everyPosition.session.PlayEntry(row), PlayOutcome::Finished);

  WaitingRig waiting(3.0, /*paused=*/3);
  waiting.AddEntry("song", rows);
  ASSERT_EQ(waiting.session.PlayEntry(row), PlayOutcome::Finished);

  EXPECT_EQ(waiting.port.writes, everyPosition.port.writes);
  EXPECT_EQ(waiting.trace.Levels(), "1 234 567 89 1 23 4 5 6");
  // Two looks per flush step (5.8 ms, in waits of at most 5 ms) plus the
  // rows: about a thousand over three seconds, where the other loop looked
  // 264,600 times.
  EXPECT_LT(waiting.audio.polls, 1200);
  EXPECT_GT(everyPosition.audio.polls, 264000);
  ASSERT_FALSE(waiting.waits.empty());
  EXPECT_LE(*std::max_element(waiting.waits.begin(), waiting.waits.end()),
            std::chrono::microseconds(5000));
  EXPECT_EQ(waiting.ui.longestWait, std::chrono::microseconds(5000)) << "paused audio waits too";
}

// A click on Stop handled during a wait ends the entry at that pass; the
// drain after the last row waits the same way and stops the same way.
TEST_F(ShowPlayerTest, StopClickedDuringAWaitEndsTheEntryWithoutAnotherWait) {
  for (const bool draining : {false, true}) {
    SCOPED_TRACE(draining ? "draining" : "dispatching");
    WaitingRig r(10.0);
    const int row = r.AddEntry("song", {Level(1000, 1), Level(draining ? 2000 : kFar, 2)});
    const auto previous = r.ui.onWait;
    int waitsAtStop = 0;
    r.ui.onWait = [&](std::chrono::microseconds waited) {
      previous(waited);
      if (r.audio.position >= 1.0 && r.window.showRunning) {
        r.window.showRunning = false;
        waitsAtStop = r.ui.waitCount;
      }
    };
    EXPECT_EQ(r.session.PlayEntry(row), PlayOutcome::Stopped);
    EXPECT_EQ(r.ui.waitCount, waitsAtStop);
    EXPECT_NEAR(r.audio.position, 1.0, 0.006);
    EXPECT_EQ(r.audio.stops, 1);
    EXPECT_EQ(r.trace.Levels(), draining ? "1 2" : "1");
  }
}

TEST_F(ShowPlayerTest, TableEndingBeforeTheAudioDrainsWithKeepAlivesOnly) {
  OpenPortAhead();
  const int row = AddEntry("song", {Level(1000, 1)});
  SteadyAudio(1000, 200000);
  EXPECT_EQ(session.PlayEntry(row), PlayOutcome::Finished);
  EXPECT_EQ(trace.Levels(), "1");
  EXPECT_EQ(trace.Count(Kind::Write, kKeepAlive, 3), 5);
  // A yield per wait pass plus one per keep-alive, from pass 3 to the end.
  EXPECT_EQ(trace.Count(Kind::Yield, {}, 3), (audio.polls - 2) + 5);
  EXPECT_EQ(audio.stops, 0);
  EXPECT_EQ(audio.closes, 1);
}

// P = 100 x (pass - 1) + 512: the last row falls due at pass 16 (P = 2,012),
// short of the flush position 2,048. Stop seen then ends the dispatch with the
// row written; seen later, it ends the drain at that wait pass.
TEST_F(ShowPlayerTest, StopWhileDispatchingOrDrainingWritesWhatIsDueAndStopsTheAudio) {
  for (const int stopPoll : {16, 30}) {
    PlayerRig r;
    const int row = r.AddEntry("song", {Level(1000, 1), Level(2000, 2)});
    r.SteadyAudio(100, kFar, [&](int poll) {
      if (poll == stopPoll) r.window.showRunning = false;
    });
    EXPECT_EQ(r.session.PlayEntry(row), PlayOutcome::Stopped);
    EXPECT_EQ(r.audio.polls, stopPoll);
    EXPECT_EQ(r.trace.Levels(), "1 2");
    EXPECT_EQ(r.audio.stops, 1);
    EXPECT_EQ(r.audio.closes, 1);
  }
}

// The notice is read by an operator: the entry's title without the list's
// padding and archive, and what is wrong in plain words.
TEST_F(ShowPlayerTest, SkipNoticeNamesTitleAndSaysPlainlyWhatIsMissing) {
  const int missingSong = AddEntry("song", {Level(0, 1)});
  window.entries[missingSong].ListText = "Demo Beat - Glimmerfield         (/shows/a (1).msq)";
  const int missingSequence = AddEntryFiles("ghost", dir.File("ghost.csq"));
  audio.openError = dir.File("song.wav") + ": No such file or directory";
  const struct {
    int row;
    std::string notice;
  } cases[] = {
      {missingSong, "Skipped playlist entry 1, Demo Beat - Glimmerfield: the song file " +
                        dir.File("song.wav") + " does not exist"},
      {missingSequence, "Skipped playlist entry 2, ghost: the sequence file " +
                            dir.File("ghost.csq") + " does not exist"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(session.PlayEntry(c.row), PlayOutcome::Skipped);
    EXPECT_EQ(window.Notice(), c.notice);
  }
}

TEST_F(ShowPlayerTest, UnusableFilesSkipTheEntryNamingFileAndReason) {
  AddEntryFiles("ghost", dir.File("ghost.csq"));
  fakes::WriteBytes(dir.File("junk.csq"), "this is not a sequence cache");
  AddEntryFiles("junk", dir.File("junk.csq"));
  AddEntry("empty", {});
  AddEntry("noise", {Level(0, 1)});
  // Only the last gets as far as its audio.
  audio.openError = dir.File("noise.wav") + ": cannot decode: unknown format";
  fakes::WriteBytes(dir.File("noise.wav"), "not a song");
  const char* mentions[] = {"ghost.csq", "junk.csq", "holds no events",
                            "noise.wav cannot be used: cannot decode: unknown format"};
  for (int row = 0; row < 4; ++row) {
    EXPECT_EQ(session.PlayEntry(row), PlayOutcome::Skipped);
    EXPECT_TRUE(Contains(window.Notice(), mentions[row]));
    EXPECT_EQ(window.playingNote.rfind("Skipped - ", 0), 0u) << window.playingNote;
    EXPECT_TRUE(Contains(window.playingNote, row == 3 ? "cannot decode" : mentions[row]));
  }
  EXPECT_EQ(trace.Levels(), "");
  EXPECT_EQ(audio.polls, 0);
  EXPECT_EQ(audio.state, platform::kPlayStateStopped);
}

// A device that holds a quarter of a second or more is worth knowing about
// once, with its figure; an ordinary one is not.
TEST_F(ShowPlayerTest, OutputLatencyOverAQuarterSecondIsLoggedOncePerShow) {
  for (const double latency : {0.250, 0.4004}) {
    SCOPED_TRACE(latency);
    PlayerRig r;
    r.audio.outputLatency = latency;
    const int first = r.AddEntry("first", {Level(0, 1)});
    const int second = r.AddEntry("second", {Level(0, 1)});
    for (const int row : {first, second, first}) {
      r.ScriptAudio({0});
      EXPECT_EQ(r.session.PlayEntry(row), PlayOutcome::Finished);
    }
    EXPECT_EQ(r.window.LoggedWith("latency"),
              latency > 0.25 ? std::vector<std::string>{"Entry 1: the audio output reports a "
                                                        "latency of 400 ms: the sound is heard "
                                                        "that long after it is handed over"}
                             : std::vector<std::string>{});
  }
}

}  // namespace
