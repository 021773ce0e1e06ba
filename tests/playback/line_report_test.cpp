#include "playback/line_report.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sequence_format/event_table.h"
#include "tests/playback/playback_rig.h"

namespace {

using playback::LineMessage;
using playback_test::Contains;

// Two controllers' worth of fades on every 50 ms grid point for a minute:
// 288 bytes per 50 ms, just over what 56000 baud carries, far under 115200.
std::vector<LineMessage> Dense() {
  std::vector<LineMessage> messages;
  for (std::int32_t t = 4410; t <= 60 * 88200; t += 4410) {
    for (int i = 0; i < 32; ++i) messages.push_back({t, 9});
  }
  return messages;
}

// A few intensities a second.
std::vector<LineMessage> Calm() {
  std::vector<LineMessage> messages;
  for (std::int32_t t = 4410; t < 60 * 88200; t += 29400) messages.push_back({t, 6});
  return messages;
}

TEST(ImportLineReportTest, ADenseShowWarnsAt56000AndNotAt115200ACalmOneNever) {
  const playback::ImportLineReport dense = playback::PlanLine(Dense());
  const auto warning = playback::LineWarning(dense, 56000, true);
  ASSERT_TRUE(warning.has_value());
  EXPECT_EQ(playback::LineWarning(dense, 115200, true), std::nullopt);
  // The worst moment is near the end, where the backlog has grown most.
  EXPECT_TRUE(Contains(*warning, "worst at 0:5"));
  // It slips early on and stays behind: where it starts is named too.
  EXPECT_TRUE(Contains(*warning, " baud, from 0:0"));
  EXPECT_TRUE(Contains(*warning, "At 115200 baud"));
  EXPECT_FALSE(Contains(*warning, "Perform bitmask")) << "the merge was on";
  EXPECT_TRUE(Contains(*playback::LineWarning(dense, 56000, false), "\"Perform bitmask\""));
  EXPECT_EQ(dense.at56000.secondsOverCapacity, 60);
  EXPECT_EQ(dense.at115200.secondsOverCapacity, 0);
  EXPECT_GT(dense.at56000.worstBacklogBytes, 100);
  // The figures name both rates, the backlog and its moment.
  const std::string figures = playback::FormatLineReport(dense, 56000, true);
  for (const char* part :
       {"Serial line at 56000 baud: p99 ", "Serial line at 115200 baud: p99 ", "worst backlog ",
        "second(s) ask more than 5600 bytes", "Warning: The lights will fall up to "}) {
    EXPECT_TRUE(Contains(figures, part));
  }

  const playback::ImportLineReport calm = playback::PlanLine(Calm());
  for (const int baud : {56000, 115200}) {
    for (const bool merged : {true, false}) {
      EXPECT_EQ(playback::LineWarning(calm, baud, merged), std::nullopt) << baud;
    }
  }
  const std::string text = playback::FormatLineReport(calm, 56000, true);
  EXPECT_TRUE(Contains(text, "Serial line at 56000 baud: on time (at most "));
  EXPECT_FALSE(Contains(text, "Warning"));
}

TEST(ImportLineReportTest, ATableAndItsRowsGiveTheSameMessages) {
  using playback_test::Row;
  const std::vector<sequence_format::EventTable::Record> rows = {
      Row(100, 1, 1, 33, 5), Row(100, 1, 3, 34, 0, 255, 1, 20), Row(200, 2, 1, 36),
      Row(300, 2, 1, 0)};
  const sequence_format::EventTable table = sequence_format::EventTable::FromRecords(rows);
  std::vector<std::pair<int, int>> messages;
  for (const LineMessage& m : playback::LineMessagesOf(table))
    messages.emplace_back(m.due, m.bytes);
  EXPECT_EQ(messages, (std::vector<std::pair<int, int>>{{100, 6}, {100, 9}, {200, 5}, {300, 0}}));
}

// A row at -88,200 (a second before the song, from a cache compiled before
// such rows were refused) made the report say "1,006 ms behind": it is sent
// as the song starts, which is when it is due.
TEST(ImportLineReportTest, RowsBeforeTheSongAreDueAsItStartsNotLate) {
  using playback_test::Row;
  const sequence_format::EventTable table = sequence_format::EventTable::FromRecords(
      {Row(-88200, 1, 1, 33, 5), Row(-1, 1, 2, 33, 5), Row(4410, 1, 1, 33, 9)});
  std::vector<int> due;
  for (const LineMessage& m : playback::LineMessagesOf(table)) due.push_back(m.due);
  EXPECT_EQ(due, (std::vector<int>{0, 0, 4410}));
  const playback::ImportLineReport report = playback::PlanLine(table);
  for (const int baud : {56000, 115200}) {
    EXPECT_EQ(playback::LineWarning(report, baud, true), std::nullopt) << baud;
  }
}

}  // namespace
