// The player and the import's line forecast run one dispatcher: played on a
// fake audio position and a fake port, an entry's event messages leave in
// the batches, and at the positions, that the forecast foresaw.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "playback/line_model.h"
#include "playback/line_report.h"
#include "tests/playback/playback_rig.h"

namespace {

using playback_test::Level;
using playback_test::Record;
using Kind = playback_test::Trace::Kind;

// Each write: the position it left at and the intensities of its rows.
using Writes = std::vector<std::pair<std::int64_t, std::string>>;

struct Case {
  const char* name;
  std::vector<std::pair<std::int32_t, int>> rows;  // moment, intensity
  int frameTiming = 1;
  int baud = 115200;
};

std::vector<Record> Rows(const Case& c) {
  std::vector<Record> rows;
  for (const auto& [due, level] : c.rows) rows.push_back(Level(due, level));
  return rows;
}

// The audio moves exactly as far as the player waits, so every pass comes at
// the position the player asked to be woken at.
Writes Played(const Case& c) {
  playback_test::Rig rig;
  rig.window.frameTiming = c.frameTiming;
  rig.window.baud = c.baud;
  const int row = rig.AddEntry("song", Rows(c));
  const std::int64_t end = c.rows.back().first + playback::kSamplesPerSecond;
  std::int64_t samples = 0;
  std::vector<std::int64_t> polled;
  rig.ui.onWait = [&](std::chrono::microseconds waited) {
    samples += waited.count() * playback::kSamplesPerSecond / 1000000;
  };
  rig.audio.onPoll = [&](fakes::FakeAudioPlayer& audio) {
    rig.trace.Add(Kind::Poll);
    polled.push_back(samples);
    audio.position = playback_test::Seconds(samples);
    if (samples >= end) audio.state = platform::kPlayStateStopped;
  };
  EXPECT_EQ(rig.session.PlayEntry(row), playback::PlayOutcome::Finished);
  const std::int64_t lead = c.frameTiming * playback::kFrameTimingStep;
  Writes writes;
  std::size_t polls = 0;
  for (const auto& e : rig.trace.events) {
    polls += e.kind == Kind::Poll;
    // Bursts and keep-alives are four bytes; every event message here six.
    if (e.kind != Kind::Write || e.text.size() == 4) continue;
    std::string levels;
    for (std::size_t i = 3; i < e.text.size(); i += 6) levels += std::to_string(e.text[i]) + ",";
    writes.emplace_back(polled.at(polls - 1) + lead, levels);
  }
  return writes;
}

Writes Forecast(const Case& c) {
  const std::vector<playback::LineMessage> messages =
      playback::LineMessagesOf(sequence_format::EventTable::FromRecords(Rows(c)));
  const std::vector<playback::EarlyRow> early = playback::PlanEarlySending(messages, c.baud);
  std::vector<playback::DispatchedWrite> dispatched;
  playback::SimulatePlayback(messages, c.baud, early, c.frameTiming, &dispatched);
  Writes writes;
  for (const playback::DispatchedWrite& w : dispatched) {
    std::string levels;
    for (const std::size_t i : w.messages) levels += std::to_string(c.rows[i].second) + ",";
    writes.emplace_back(w.position, levels);
  }
  return writes;
}

TEST(DispatchAgreementTest, ThePlayerWritesTheBatchesTheForecastForesaw) {
  std::vector<std::pair<std::int32_t, int>> burst;
  for (int i = 0; i < 30; ++i) burst.emplace_back(88200, i + 1);
  const Case cases[] = {
      // Three due together mid-step share a write; on a flush step the first
      // leaves alone and the others a step later.
      {"due together",
       {{10000, 1},
        {10000, 2},
        {10000, 3},
        {10240, 4},
        {10240, 5},
        {10240, 6},
        {10241, 7},
        {20000, 8}}},
      // Rows inside the lead go out before the song is heard, one a pass
      // while the flush step catches up with the position.
      {"inside the lead", {{0, 1}, {100, 2}, {600, 3}, {2559, 4}, {2560, 5}, {3000, 6}}, 5},
      // Around a keep-alive, and the entry's last batch, written as the rows
      // run out rather than at the next step.
      {"keep-alive and the last batch",
       {{37999, 1}, {38000, 2}, {38001, 3}, {76000, 4}, {90001, 5}, {90002, 6}}},
      // More than the line carries in one step at 56000: part of it is sent
      // early, as the plan both share says.
      {"a burst sent early", burst, 1, 56000},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Writes forecast = Forecast(c);
    EXPECT_FALSE(forecast.empty());
    EXPECT_EQ(Played(c), forecast);
  }
}

}  // namespace
