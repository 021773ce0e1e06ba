// The player against the serial line's own time: bursts the line cannot carry
// within a flush step go out early, and an entry whose lights fall visibly
// behind is told once.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "playback/line_model.h"
#include "playback/serial_link.h"
#include "playback/show_context.h"
#include "playback/show_log.h"
#include "playback/show_player.h"
#include "tests/playback/playback_rig.h"

namespace {

using playback::PlayOutcome;
using playback_test::Contains;
using playback_test::Level;
using playback_test::Record;
using Kind = playback_test::Trace::Kind;

constexpr std::int64_t kLead = 512;  // frame timing 1

// With `onLook`, every look at the steady clock finds it 100 ms later.
struct SteppingClock : fakes::FakeClock {
  SteppingClock() : FakeClock(10LL * 3600 * 1000) {}
  std::chrono::steady_clock::time_point SteadyNow() override {
    if (onLook) {
      ms += 100;
      onLook();
    }
    return FakeClock::SteadyNow();
  }
  std::function<void()> onLook;
};

struct Rig : playback_test::Rig {
  // The player on its own, as the session wires it.
  SteppingClock steppingClock;
  playback::ShowLog showLog{log, [] { return std::string("-"); }};
  playback::ShowContext context{
      window.showRunning, window.fadeTimings, window, window, window, showLog, ui, steppingClock};
  playback::SerialLink link{port, context};
  playback::ShowPlayer player{context, link, audio};

  // Plays `rows` with the audio moving one position a pass; returns the
  // event writes, each with the position (audio plus lead) it was made at.
  struct Write {
    std::int64_t position;
    std::string bytes;
  };
  std::vector<Write> Play(const std::vector<Record>& rows, std::int64_t end) {
    OpenPortAhead();
    const int row = AddEntry("song", rows);
    audio.duration = static_cast<double>(end) / 88200;
    SteadyAudio(1, end);
    EXPECT_EQ(player.PlayEntry(row), PlayOutcome::Finished);
    std::vector<Write> writes;
    int polls = 0;
    for (const auto& e : trace.events) {
      polls += e.kind == Kind::Poll;
      if (e.kind == Kind::Write && e.text.size() != 4)
        writes.push_back({polls - 1 + kLead, e.text});
    }
    return writes;
  }
  void OpenPortAhead() { ASSERT_TRUE(link.OpenPort().ok()); }
};

TEST(EarlySendingTest, ABurstOverOneFlushStepArrivesStraddlingItsMoment) {
  // 30 intensities at one moment: 32 ms of line at 56000, 15.6 ms at 115200.
  constexpr std::int64_t kDue = 88200;
  std::vector<Record> rows;
  for (int i = 0; i < 30; ++i) rows.push_back(Level(kDue, i % 10));
  for (const int baud : {56000, 115200}) {
    SCOPED_TRACE(baud);
    Rig rig;
    rig.window.baud = baud;
    const std::vector<Rig::Write> writes = rig.Play(rows, 2 * 88200);
    playback::SerialLineModel line(baud);
    std::vector<double> late;  // arrival minus moment of each intensity message
    std::string sent;
    for (const Rig::Write& w : writes) {
      sent += w.bytes;
      for (std::size_t at = 0; at + 6 <= w.bytes.size(); at += 6) {
        late.push_back(line.Write(static_cast<double>(w.position) / 88200, 6) -
                       static_cast<double>(kDue) / 88200);
      }
    }
    ASSERT_EQ(late.size(), 30U);
    std::vector<playback::LineMessage> messages(30, playback::LineMessage{kDue, 6});
    const double floor = playback::PhysicalFloorSeconds(messages, baud);
    EXPECT_LT(late.front(), -0.002) << "the burst starts arriving before its moment";
    EXPECT_GT(late.back(), 0.002) << "and ends after it";
    EXPECT_LE(late.back(), floor + 512.0 / 88200);
    EXPECT_GE(late.front(), -floor - 512.0 / 88200);
    // In playback order, every byte once.
    for (int i = 0; i < 30; ++i) EXPECT_EQ(sent[static_cast<std::size_t>(i * 6 + 3)], i % 10);
  }
}

TEST(LineHealthTest, AnEntryFallingBehindOnTheLineIsLoggedOnceWithItsWorstMoment) {
  // 100 fades at 1 s: 160 ms of line at 56000; even sent early, some arrive
  // 80 ms late.
  std::vector<Record> rows;
  for (int i = 0; i < 100; ++i) {
    rows.push_back(playback_test::Row(88200, 1 + i % 8, 1, 34, 0, 255, 1, 20));
  }
  Rig rig;
  rig.window.baud = 56000;
  rig.Play(rows, 2 * 88200);
  const std::vector<std::string> late = rig.window.LoggedWith("line late");
  ASSERT_EQ(late.size(), 1U);
  EXPECT_TRUE(Contains(late[0], "Entry 1 line late: up to "));
  EXPECT_TRUE(Contains(late[0], " ms at 0:00 (56000 baud)"));
  EXPECT_TRUE(Contains(rig.window.Notice(), "fell up to"));

  // The same at 115200 stays under 50 ms: nothing said.
  Rig fast;
  fast.window.baud = 115200;
  fast.Play(rows, 2 * 88200);
  EXPECT_EQ(fast.window.LoggedWith("line late"), std::vector<std::string>{});
}

TEST(LoadKeepAliveTest, ALargeSequenceFileLoadsWithoutAKeepAliveGapOverTheUsualOne) {
  // 200,000 rows: some thirty steps of reading, then the plan; every look at
  // the steady clock finds it 100 ms later.
  std::vector<Record> rows;
  for (int i = 0; i < 200000; ++i) rows.push_back(Level(50'000'000 + i, 1));
  Rig rig;
  rig.OpenPortAhead();
  rig.steppingClock.onLook = [&] { rig.trace.Add(Kind::Status, "tick"); };
  const int row = rig.AddEntry("song", rows);
  rig.audio.duration = 0.1;
  rig.SteadyAudio(1, 8820);
  ASSERT_EQ(rig.player.PlayEntry(row), PlayOutcome::Finished);

  std::vector<std::chrono::steady_clock::time_point> keepAlives;
  std::chrono::steady_clock::time_point at{};
  for (const auto& e : rig.trace.events) {
    if (e.kind == Kind::Poll) break;  // playing: keep-alives follow the audio again
    if (e.kind == Kind::Status && e.text == "tick") at += std::chrono::milliseconds(100);
    if (e.kind == Kind::Write && e.text == playback_test::Hex("00 FF 81 00")) {
      keepAlives.push_back(at);
    }
  }
  ASSERT_GT(keepAlives.size(), 5U) << "the load sent keep-alives of its own";
  for (std::size_t i = 1; i < keepAlives.size(); ++i) {
    EXPECT_LE(keepAlives[i] - keepAlives[i - 1], std::chrono::milliseconds(430)) << i;
  }
}

// A system that never grants real-time priority.
struct RefusedPriority : platform::DispatchPriority {
  bool Raise() override {
    ++raises;
    return false;
  }
  void Restore() override {}
  std::string WhyNotRaised() const override { return "no RealtimeKit: no system bus"; }
  int raises = 0;
};

TEST(NoRealtimeTest, TheShowLogSaysOnceThatTimingMaySufferUnderLoad) {
  Rig base;
  RefusedPriority priority;
  playback::ShowPlayer player{base.context, base.link, base.audio, &priority};
  const int row = base.AddEntry("song", {Level(100, 1)});
  for (int pass = 0; pass < 2; ++pass) {
    base.audio.duration = 0.1;
    base.SteadyAudio(100, 8820);
    ASSERT_EQ(player.PlayEntry(row), PlayOutcome::Finished);
  }
  EXPECT_EQ(priority.raises, 2);
  EXPECT_EQ(base.window.LoggedWith("Timing may suffer"),
            std::vector<std::string>{
                "Timing may suffer when the computer is busy: no RealtimeKit: no system bus"});
}

}  // namespace
