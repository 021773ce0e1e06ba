#include "playback/show_player.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "playback/serial_link.h"
#include "tests/playback/playback_rig.h"

namespace {

using playback::PlayOutcome;
using playback_test::Hex;
using playback_test::Level;
using playback_test::LevelBytes;
using playback_test::Record;
using playback_test::Rig;
using playback_test::Row;
using playback_test::ToHex;
using Kind = playback_test::Trace::Kind;

const std::string kBurst = Hex("00 FF 41 00");
const std::string kKeepAlive = Hex("00 FF 81 00");
constexpr std::int64_t kFar = 50'000'000;  // a row the audio never reaches

std::string Joined(const std::vector<std::string>& parts) {
  std::string all;
  for (const auto& p : parts) all += p;
  return all;
}

class ShowPlayerTest : public testing::Test {
 protected:
  // Opens the port first so the trace shows only what the entry does.
  void OpenPortAhead() {
    ASSERT_TRUE(link.OpenPort().ok());
    rig.trace.events.clear();
  }
  std::vector<std::string> WritesOfPass(int pass) const {
    std::vector<std::string> writes;
    for (const auto& e : rig.trace.Pass(pass)) {
      if (e.kind == Kind::Write && e.text.size() != 4) writes.push_back(e.text);
    }
    return writes;
  }
  int KeepAlivesAfterPoll(int poll) const {
    int n = 0;
    for (int pass : rig.trace.PassesOf(Kind::Write, kKeepAlive)) n += pass >= poll;
    return n;
  }

  Rig rig;
  playback::SerialLink link{rig.port, rig.window, rig.ui, rig.clock};
  playback::ShowPlayer player{rig.window, link, rig.audio, rig.ui};
};

// --- Timing of rows against the audio position -----------------------------

TEST_F(ShowPlayerTest, FrameTimingMovesRowsEarlierBy512PositionsPerStep) {
  rig.window.frameTiming = 5;
  const int row = rig.AddEntry("song", {Level(88200, 1)});
  // 88,200 - 5 x 512 = 85,640 positions, about 0.971 s of audio.
  rig.ScriptAudio({85639, 85640});
  EXPECT_EQ(player.PlayEntry(row), PlayOutcome::Finished);
  EXPECT_TRUE(WritesOfPass(1).empty());
  EXPECT_EQ(WritesOfPass(2), std::vector<std::string>{LevelBytes(1)});
}

TEST_F(ShowPlayerTest, RowsWithinTheFrameTimingLeadGoOutBeforeTheAudioPlays) {
  OpenPortAhead();
  rig.window.frameTiming = 2;    // lead of 1,024 positions
  rig.audio.stateAfterOpen = 9;  // still opening
  const int row = rig.AddEntry(
      "song", {Level(0, 1), Level(512, 2), Level(1024, 3), Level(1025, 4), Level(kFar, 5)});
  rig.ScriptAudio({0, 0, 0, 0, 0});
  EXPECT_EQ(player.PlayEntry(row), PlayOutcome::Finished);
  // One row per pass; the flush position (512, then 1,024) lets the first two
  // out at once, the third waits for the end of the dispatch.
  EXPECT_EQ(WritesOfPass(1), std::vector<std::string>{LevelBytes(1)});
  EXPECT_EQ(WritesOfPass(2), std::vector<std::string>{LevelBytes(2)});
  EXPECT_TRUE(WritesOfPass(3).empty());
  EXPECT_EQ(WritesOfPass(5), std::vector<std::string>{LevelBytes(3)});
  EXPECT_EQ(rig.trace.EventWrites().size(), 3u);
  // One yield after the audio is opened, then one on every pass while it is
  // not playing.
  EXPECT_EQ(rig.trace.Count(Kind::Yield), 1 + 5);
}

TEST_F(ShowPlayerTest, LateRowsGoOutOnePerPassInOrder) {
  const int row =
      rig.AddEntry("song", {Level(1000, 1), Level(2000, 2), Level(3000, 3), Level(kFar, 4)});
  rig.ScriptAudio({0, 100000, 100000, 100000, 100000});
  EXPECT_EQ(player.PlayEntry(row), PlayOutcome::Finished);
  // The flush position is far behind, so every pass flushes its one row.
  EXPECT_EQ(WritesOfPass(2), std::vector<std::string>{LevelBytes(1)});
  EXPECT_EQ(WritesOfPass(3), std::vector<std::string>{LevelBytes(2)});
  EXPECT_EQ(WritesOfPass(4), std::vector<std::string>{LevelBytes(3)});
  EXPECT_EQ(rig.trace.EventWrites().size(), 3u);
}

struct BatchCase {
  const char* name;
  std::int32_t sample;
  std::vector<std::vector<int>> writes;  // intensities per write
};
std::ostream& operator<<(std::ostream& os, const BatchCase& c) {
  return os << c.name;
}

class ShowPlayerBatching : public ShowPlayerTest, public testing::WithParamInterface<BatchCase> {};

TEST_P(ShowPlayerBatching, RowsDueTogetherShareAWriteUnlessAFlushFallsBetween) {
  const auto& c = GetParam();
  const int row = rig.AddEntry(
      "song", {Level(c.sample, 1), Level(c.sample, 2), Level(c.sample, 3), Level(kFar, 4)});
  rig.SteadyAudio(1, 20000);  // one position per pass: P = 512, 513, ...
  EXPECT_EQ(player.PlayEntry(row), PlayOutcome::Finished);
  std::vector<std::string> expected;
  for (const auto& write : c.writes) {
    std::string bytes;
    for (int intensity : write) bytes += LevelBytes(intensity);
    expected.push_back(bytes);
  }
  EXPECT_EQ(rig.trace.EventWrites(), expected);
}

INSTANTIATE_TEST_SUITE_P(
    SameSampleNumber, ShowPlayerBatching,
    testing::Values(BatchCase{"OneWrite", 10000, {{1, 2, 3}}},
                    // Encoded at P = 10,238, 10,239 and 10,240, the flush position.
                    BatchCase{"FlushOnTheLastOne", 10238, {{1, 2, 3}}},
                    BatchCase{"SplitByAFlush", 10239, {{1, 2}, {3}}},
                    BatchCase{"SplitAfterTheFirst", 10240, {{1}, {2, 3}}}),
    [](const testing::TestParamInfo<BatchCase>& info) { return info.param.name; });

TEST_F(ShowPlayerTest, FrameTimingChangedDuringTheEntryCountsFromTheNextPass) {
  const int row = rig.AddEntry("song", {Level(4096, 1), Level(kFar, 2)});
  rig.ScriptAudio(std::vector<std::int64_t>(8, 0));
  rig.audio.onPoll = [this, script = rig.audio.onPoll](fakes::FakeAudioPlayer& audio) {
    script(audio);
    if (audio.polls == 5) rig.window.frameTiming = 8;  // P = 4,096
  };
  EXPECT_EQ(player.PlayEntry(row), PlayOutcome::Finished);
  EXPECT_EQ(WritesOfPass(5), std::vector<std::string>{LevelBytes(1)});
}

TEST_F(ShowPlayerTest, JumpsForwardSendEverySkippedRowAndBackwardSendNothingTwice) {
  const int row = rig.AddEntry(
      "song", {Level(1000, 1), Level(2000, 2), Level(3000, 3), Level(4000, 4), Level(kFar, 5)});
  // P = audio + 512.
  rig.ScriptAudio({0, 1000, 3000, 3000, 3000, 0, 500, 3600, 3600, 5000});
  EXPECT_EQ(player.PlayEntry(row), PlayOutcome::Finished);
  EXPECT_EQ(WritesOfPass(3), std::vector<std::string>{LevelBytes(2)});
  EXPECT_EQ(WritesOfPass(4), std::vector<std::string>{LevelBytes(3)});
  EXPECT_EQ(WritesOfPass(8), std::vector<std::string>{LevelBytes(4)});
  EXPECT_EQ(Joined(rig.trace.EventWrites()),
            LevelBytes(1) + LevelBytes(2) + LevelBytes(3) + LevelBytes(4));
}

TEST_F(ShowPlayerTest, PausedAudioSendsNothingAndYieldsEveryPass) {
  const int row = rig.AddEntry("song", {Level(50000, 1), Level(kFar, 2)});
  rig.audio.onPoll = [this](fakes::FakeAudioPlayer& audio) {
    rig.trace.Add(Kind::Poll);
    const int n = audio.polls;
    if (n <= 10) {
      audio.position = playback_test::Seconds(2000 * (n - 1));
    } else if (n <= 110) {
      audio.state = platform::kPlayStatePaused;
    } else {
      audio.state = platform::kPlayStatePlaying;
      const std::int64_t position = 18000 + 2000 * (n - 110);
      audio.position = playback_test::Seconds(position);
      if (position >= 100000) audio.state = platform::kPlayStateStopped;
    }
  };
  EXPECT_EQ(player.PlayEntry(row), PlayOutcome::Finished);
  for (int pass = 11; pass <= 110; ++pass) {
    const auto events = rig.trace.Pass(pass);
    ASSERT_EQ(events.size(), 1u) << "pass " << pass;
    EXPECT_EQ(events[0].kind, Kind::Yield) << "pass " << pass;
  }
  // Playing on resumes where it stopped.
  EXPECT_EQ(rig.trace.EventWrites(), std::vector<std::string>{LevelBytes(1)});
  EXPECT_EQ(KeepAlivesAfterPoll(111), 2);  // at 38,000 and 76,000
}

// --- Keep-alives -----------------------------------------------------------

TEST_F(ShowPlayerTest, EntryThatOpensThePortSendsBurstAndFourKeepAlivesBeforeDispatch) {
  const int row = rig.AddEntry("song", {Level(kFar, 1)});
  rig.ScriptAudio({0});
  EXPECT_EQ(player.PlayEntry(row), PlayOutcome::Finished);
  std::vector<std::string> beforeFirstPoll;
  for (const auto& e : rig.trace.events) {
    if (e.kind == Kind::Poll) break;
    if (e.kind == Kind::Write) beforeFirstPoll.push_back(ToHex(e.text));
  }
  std::vector<std::string> expected(8, ToHex(kBurst));
  expected.insert(expected.end(), 4, ToHex(kKeepAlive));
  EXPECT_EQ(beforeFirstPoll, expected);
  EXPECT_EQ(rig.window.selected, std::vector<int>{row});
}

TEST_F(ShowPlayerTest, EntryOnAnOpenPortSendsThreeKeepAlivesBeforeDispatch) {
  OpenPortAhead();
  const int row = rig.AddEntry("song", {Level(kFar, 1)});
  rig.ScriptAudio({0});
  EXPECT_EQ(player.PlayEntry(row), PlayOutcome::Finished);
  EXPECT_EQ(rig.trace.Pass(0).size(), 5u);  // select, keep-alive x2, yield, keep-alive
  EXPECT_EQ(rig.trace.Count(Kind::Write, kKeepAlive), 3);
  EXPECT_EQ(rig.port.openCount, 1);
}

TEST_F(ShowPlayerTest, KeepAliveEvery38000PositionsEachFollowedByAYield) {
  OpenPortAhead();
  const int row = rig.AddEntry("song", {Level(kFar, 1)});
  rig.SteadyAudio(1000, 200000);  // P = 1000 x (pass - 1) + 512
  EXPECT_EQ(player.PlayEntry(row), PlayOutcome::Finished);
  const auto& events = rig.trace.events;
  std::vector<int> passes;
  int polls = 0;
  for (std::size_t i = 0; i < events.size(); ++i) {
    polls += events[i].kind == Kind::Poll;
    if (polls > 0 && events[i].kind == Kind::Write && events[i].text == kKeepAlive) {
      passes.push_back(polls);
      ASSERT_LT(i + 1, events.size());
      EXPECT_EQ(events[i + 1].kind, Kind::Yield);
    }
  }
  // First P at or past 38,000, 76,000, ...: passes 39, 77, 115, 153, 191.
  EXPECT_EQ(passes, (std::vector<int>{39, 77, 115, 153, 191}));
}

// --- How an entry ends -----------------------------------------------------

TEST_F(ShowPlayerTest, TableEndingBeforeTheAudioDrainsWithKeepAlivesOnly) {
  OpenPortAhead();
  const int row = rig.AddEntry("song", {Level(1000, 1)});
  rig.SteadyAudio(1000, 200000);
  EXPECT_EQ(player.PlayEntry(row), PlayOutcome::Finished);
  EXPECT_EQ(rig.trace.EventWrites(), std::vector<std::string>{LevelBytes(1)});
  EXPECT_EQ(KeepAlivesAfterPoll(3), 5);
  // Two yields per wait pass plus one per keep-alive, from pass 3 to the end.
  int yields = 0;
  for (int pass : rig.trace.PassesOf(Kind::Yield)) yields += pass >= 3;
  EXPECT_EQ(yields, (rig.audio.polls - 2) + 5);
  EXPECT_EQ(rig.audio.stops, 0);
  EXPECT_EQ(rig.audio.closes, 1);
}

TEST_F(ShowPlayerTest, AudioEndingBeforeTheTableLeavesTheRestUnsent) {
  const int row = rig.AddEntry("song", {Level(1000, 1), Level(500000, 2)});
  rig.SteadyAudio(1000, 5000);
  EXPECT_EQ(player.PlayEntry(row), PlayOutcome::Finished);
  EXPECT_EQ(rig.trace.EventWrites(), std::vector<std::string>{LevelBytes(1)});
  EXPECT_EQ(rig.audio.closes, 1);
}

TEST_F(ShowPlayerTest, AudioStoppedFromOutsideEndsTheEntryAsFinished) {
  const int row = rig.AddEntry("song", {Level(1000, 1), Level(3000, 2)});
  rig.ScriptAudio({0, 2000});
  EXPECT_EQ(player.PlayEntry(row), PlayOutcome::Finished);
  EXPECT_EQ(rig.audio.stops, 0);
  EXPECT_EQ(rig.audio.closes, 1);
  EXPECT_TRUE(link.IsPortOpen());
}

TEST_F(ShowPlayerTest, StopWhileDrainingEndsAtTheNextWaitPass) {
  const int row = rig.AddEntry("song", {Level(1000, 1)});
  int stoppedAtPoll = 0;
  rig.SteadyAudio(1000, kFar, [&](int poll) {
    if (poll == 20) {
      rig.window.showRunning = false;
      stoppedAtPoll = poll;
    }
  });
  EXPECT_EQ(player.PlayEntry(row), PlayOutcome::Stopped);
  EXPECT_EQ(rig.audio.polls, stoppedAtPoll);
  EXPECT_EQ(rig.audio.stops, 1);
  EXPECT_EQ(rig.audio.closes, 1);
}

TEST_F(ShowPlayerTest, StopWhileDispatchingWritesWhatIsDueAndStopsTheAudio) {
  const int row = rig.AddEntry("song", {Level(1000, 1), Level(2000, 2), Level(kFar, 3)});
  // P = 100 x (pass - 1) + 512: row 2 falls due at pass 16 (P = 2,012), short
  // of the flush position 2,048.
  rig.SteadyAudio(100, kFar, [&](int poll) {
    if (poll == 16) rig.window.showRunning = false;
  });
  EXPECT_EQ(player.PlayEntry(row), PlayOutcome::Stopped);
  EXPECT_EQ(rig.audio.polls, 16);
  EXPECT_EQ(Joined(rig.trace.EventWrites()), LevelBytes(1) + LevelBytes(2));
  EXPECT_EQ(rig.audio.stops, 1);
  EXPECT_EQ(rig.audio.closes, 1);
}

TEST_F(ShowPlayerTest, StopClickedBeforeTheEntryEndsItAfterTheFirstPass) {
  const int row = rig.AddEntry("song", {Level(0, 1), Level(kFar, 2)});
  rig.window.showRunning = false;
  rig.SteadyAudio(100, kFar);
  EXPECT_EQ(player.PlayEntry(row), PlayOutcome::Stopped);
  EXPECT_EQ(rig.audio.polls, 1);
}

TEST_F(ShowPlayerTest, BytesLeftInTheBufferAreWrittenWhenDispatchEnds) {
  OpenPortAhead();
  const int row = rig.AddEntry("song", {Level(1000, 1)});
  // Pass 2: P = 1,002 reaches the row but not the flush position 1,024.
  rig.ScriptAudio({0, 490, 490, 490});
  rig.audio.onPoll = [this, script = rig.audio.onPoll](fakes::FakeAudioPlayer& audio) {
    script(audio);
    if (audio.polls == 2) audio.state = platform::kPlayStatePlaying;
  };
  EXPECT_EQ(player.PlayEntry(row), PlayOutcome::Finished);
  // Written after pass 2, before the drain's passes.
  EXPECT_EQ(WritesOfPass(2), std::vector<std::string>{LevelBytes(1)});
}

TEST_F(ShowPlayerTest, IdlePassesYieldEvery50000AcrossEntries) {
  OpenPortAhead();
  const int first = rig.AddEntry("first", {Level(kFar, 1)});
  const int second = rig.AddEntry("second", {Level(kFar, 1)});
  rig.audio.onPoll = [this](fakes::FakeAudioPlayer& audio) {
    rig.trace.Add(Kind::Poll);
    if (audio.polls == 30000) audio.state = platform::kPlayStateStopped;
  };
  EXPECT_EQ(player.PlayEntry(first), PlayOutcome::Finished);
  EXPECT_EQ(KeepAlivesAfterPoll(1), 0);

  rig.trace.events.clear();
  rig.audio.polls = 0;
  rig.audio.onPoll = [this](fakes::FakeAudioPlayer& audio) {
    rig.trace.Add(Kind::Poll);
    if (audio.polls == 80000) audio.state = platform::kPlayStateStopped;
  };
  EXPECT_EQ(player.PlayEntry(second), PlayOutcome::Finished);
  std::vector<int> yieldPasses;
  for (int pass : rig.trace.PassesOf(Kind::Yield)) {
    if (pass > 0) yieldPasses.push_back(pass);
  }
  // 30,000 idle passes carried over: the next yields come 20,000 and 70,000
  // passes into the second entry.
  EXPECT_EQ(yieldPasses, (std::vector<int>{20000, 70000}));
}

// --- Rows that cannot be sent as they are --------------------------------------

TEST_F(ShowPlayerTest, RowsOutsideTheByteRangeAreCountedAndTheRestPlays) {
  const int row = rig.AddEntry(
      "song", {Level(1000, 1), Row(1500, 300, 1, 33, 5), Row(1600, 1, 1, 33, 999), Level(2000, 2)});
  rig.SteadyAudio(100, 10000);
  EXPECT_EQ(player.PlayEntry(row), PlayOutcome::Finished);
  EXPECT_EQ(Joined(rig.trace.EventWrites()), LevelBytes(1) + LevelBytes(2));
  EXPECT_EQ(player.RejectedRowCount(), 2);
  EXPECT_NE(rig.window.Status().find("2 event(s)"), std::string::npos) << rig.window.Status();
  EXPECT_NE(rig.window.Status().find("song.csq"), std::string::npos);
}

TEST_F(ShowPlayerTest, LastFadeOfAChannelRunsToTheEndOfTheAudio) {
  rig.audio.duration = 10.0;
  const int row =
      rig.AddEntry("song", {Row(9 * 88200, 2, 1, 34, 10, 0, std::nullopt, std::nullopt)});
  rig.ScriptAudio({9 * 88200});
  EXPECT_EQ(player.PlayEntry(row), PlayOutcome::Finished);
  // One second left: the codes of a one-second fade.
  EXPECT_EQ(ToHex(Joined(rig.trace.EventWrites())), "00 02 34 0A 00 01 FA 01 00");
}

// --- Entries that cannot be played -----------------------------------------

TEST_F(ShowPlayerTest, UnusableFilesSkipTheEntryNamingFileAndReason) {
  struct Case {
    const char* name;
    std::function<int(Rig&)> setUp;
    std::string mentions;
  };
  const std::vector<Case> cases = {
      {"missing cache", [](Rig& r) { return r.AddEntryFiles("ghost", r.dir.File("ghost.csq")); },
       "ghost.csq"},
      {"damaged cache",
       [](Rig& r) {
         fakes::WriteBytes(r.dir.File("junk.csq"), "this is not a sequence cache");
         return r.AddEntryFiles("junk", r.dir.File("junk.csq"));
       },
       "junk.csq"},
      {"empty cache", [](Rig& r) { return r.AddEntry("empty", {}); }, "holds no events"},
      {"audio will not open",
       [](Rig& r) {
         r.audio.openError = "cannot decode: unknown format";
         return r.AddEntry("noise", {Level(0, 1)});
       },
       "noise.wav: cannot decode: unknown format"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Rig r;
    playback::SerialLink caseLink{r.port, r.window, r.ui, r.clock};
    playback::ShowPlayer casePlayer{r.window, caseLink, r.audio, r.ui};
    const int row = c.setUp(r);
    EXPECT_EQ(casePlayer.PlayEntry(row), PlayOutcome::Skipped);
    EXPECT_NE(r.window.Status().find(c.mentions), std::string::npos) << r.window.Status();
    EXPECT_EQ(casePlayer.LastSkipReason(), r.window.Status());
    EXPECT_TRUE(r.trace.EventWrites().empty());
    EXPECT_EQ(r.audio.polls, 0);
    EXPECT_EQ(r.audio.state, platform::kPlayStateStopped);
  }
}

TEST_F(ShowPlayerTest, SilentAudioIsShownInTheStatusLine) {
  rig.audio.silent = true;
  const int row = rig.AddEntry("song", {Level(0, 1)});
  rig.ScriptAudio({0});
  EXPECT_EQ(player.PlayEntry(row), PlayOutcome::Finished);
  EXPECT_NE(rig.window.Status().find("silently"), std::string::npos) << rig.window.Status();
}

// --- A lost port -----------------------------------------------------------

TEST_F(ShowPlayerTest, PortLostMidEntryLetsTheEntryFinishAndTheNextEntryReopens) {
  const int row = rig.AddEntry("song", {Level(1000, 1), Level(50000, 2), Level(100000, 3)});
  bool lost = false;
  rig.SteadyAudio(1000, 150000, [&](int poll) {
    if (poll == 30 && !lost) {
      rig.port.writeError = "Input/output error";
      lost = true;
    }
  });
  EXPECT_EQ(player.PlayEntry(row), PlayOutcome::Finished);
  EXPECT_EQ(rig.trace.EventWrites(), std::vector<std::string>{LevelBytes(1)});
  EXPECT_FALSE(link.IsPortOpen());
  EXPECT_NE(rig.window.Status().find("lost: Input/output error"), std::string::npos)
      << rig.window.Status();

  rig.port.writeError.clear();
  rig.trace.events.clear();
  rig.audio.polls = 0;
  EXPECT_EQ(player.PlayEntry(row), PlayOutcome::Finished);
  EXPECT_EQ(rig.port.openCount, 2);
  EXPECT_EQ(rig.trace.Count(Kind::Write, kBurst), 8);
  EXPECT_EQ(Joined(rig.trace.EventWrites()), LevelBytes(1) + LevelBytes(2) + LevelBytes(3));
}

TEST_F(ShowPlayerTest, PortThatWillNotOpenStillPlaysTheMusic) {
  rig.port.openError = "No such file or directory";
  const int row = rig.AddEntry("song", {Level(1000, 1)});
  rig.SteadyAudio(1000, 5000);
  EXPECT_EQ(player.PlayEntry(row), PlayOutcome::Finished);
  EXPECT_EQ(rig.audio.opened.size(), 1u);
  EXPECT_TRUE(rig.port.writes.empty());
  EXPECT_NE(rig.window.statuses.front().find("No such file or directory"), std::string::npos);
}

}  // namespace
