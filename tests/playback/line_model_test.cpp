#include "playback/line_model.h"
#include "playback/show_front_end.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

namespace {

using playback::LineMessage;
using playback::SerialLineModel;

constexpr double kByte56000 = 10.0 / 56000;
constexpr double kByte115200 = 10.0 / 115200;
constexpr double kStep = 512.0 / 88200;  // one flush step in seconds

// A byte takes ten bit times; bytes written while the line still carries
// others wait for them.
TEST(SerialLineModelTest, AWriteArrivesBehindWhatTheLineStillCarries) {
  SerialLineModel fast(115200);
  EXPECT_DOUBLE_EQ(fast.Write(1.0, 1), 1.0 + kByte115200);
  EXPECT_NEAR(fast.BacklogSeconds(1.0), kByte115200, 1e-12);
  EXPECT_DOUBLE_EQ(fast.BacklogSeconds(2.0), 0.0);

  SerialLineModel line(56000);
  line.Write(0.0, 100);  // the line is busy until 17.86 ms
  EXPECT_NEAR(line.BacklogSeconds(0.010), 100 * kByte56000 - 0.010, 1e-12);
  EXPECT_NEAR(line.Write(0.010, 6), 106 * kByte56000, 1e-12);
  EXPECT_NEAR(line.Write(0.010, 9), 115 * kByte56000, 1e-12);
  // Once it has drained, a write starts at once again.
  EXPECT_NEAR(line.Write(1.0, 6), 1.0 + 6 * kByte56000, 1e-12);
}

TEST(LineFloorTest, HalfTheLineTimeOfWhatMustWaitForTheFirstMessage) {
  struct Case {
    const char* name;
    std::vector<LineMessage> messages;
    double floor;
  };
  const Case cases[] = {
      {"nothing", {}, 0.0},
      {"one message", {{88200, 6}}, 0.0},
      {"two together", {{88200, 6}, {88200, 6}}, 6 * kByte56000 / 2},
      {"three together", {{88200, 6}, {88200, 9}, {88200, 5}}, 14 * kByte56000 / 2},
      {"far apart", {{88200, 9}, {97020, 9}, {105840, 9}}, 0.0},
      // 1 ms apart, 3.2 ms of line each: the third lands 4.4 ms after the first's moment.
      {"close", {{88200, 18}, {88288, 18}, {88376, 18}}, (36 * kByte56000 - 176.0 / 88200) / 2},
      {"rows without messages count nothing", {{88200, 6}, {88200, 0}, {88200, 0}}, 0.0},
      // Nothing leaves before the entry starts, one flush step into the position.
      {"due at the start", {{0, 18}}, kStep + 18 * kByte56000},
  };
  for (const Case& c : cases) {
    EXPECT_NEAR(playback::PhysicalFloorSeconds(c.messages, 56000), c.floor, 1e-9) << c.name;
  }
}

// The line's time is counted exactly: bursts that are equally late are
// equally late, and the report names the first of them rather than whichever
// rounding favoured.
TEST(LineSimulationTest, OfBurstsEquallyLateTheFirstIsNamed) {
  // Forty intensities on a flush step every 0.87 s, clear of the keep-alives.
  // As the player writes them, the first leaves on the step it reached, the
  // other 39 (encoded one a pass) a step later. A row without a message comes
  // last, so that no burst is the last batch, which leaves at once.
  std::vector<LineMessage> bursts;
  for (int k = 0; k < 20; ++k) {
    for (int i = 0; i < 40; ++i) bursts.push_back({38400 + 76800 * k, 6});
  }
  bursts.push_back({38400 + 76800 * 20, 0});
  for (const int baud : {56000, 115200}) {
    const playback::LineReport report = playback::SimulatePlayback(bursts, baud);
    const double first = (38400.0 - 512) / 88200;  // into the song, past the lead
    EXPECT_EQ(report.maxAt, first) << baud;
    EXPECT_EQ(report.worstBacklogAt, (38912.0 - 512) / 88200) << baud;  // the second write
    EXPECT_EQ(report.max, (512.0 * baud + 234 * 10.0 * 88200) / (88200.0 * baud)) << baud;
    EXPECT_EQ(report.worstBacklogBytes, 234) << baud;
  }
}

// A player that looks a few positions late must still find a burst due just
// before its flush step whole before the step: where the table needs a plan,
// such rows are encoded at the step's middle, and the rows due in its first
// half where they are due.
TEST(EarlySendingPlanTest, RowsDueLateInTheirStepAreEncodedAtItsMiddle) {
  std::vector<LineMessage> table(20, LineMessage{88200, 6});  // needs a plan
  const std::int32_t step = 512 * 400;
  for (const std::int32_t due : {step - 2, step - 2, step - 2, step + 100, step + 100}) {
    table.push_back({due, 6});
  }
  const auto early = playback::PlanEarlySending(table, 56000);
  std::vector<std::size_t> listed;
  for (const playback::EarlyRow& row : early) {
    if (row.index >= 20) {
      listed.push_back(row.index);
      EXPECT_EQ(row.position, step - 256) << row.index;
    }
  }
  EXPECT_EQ(listed, (std::vector<std::size_t>{20, 21, 22}));
}

TEST(EarlySendingPlanTest, RowsWithoutAMessageDoNotHoldBackTheBurstAfterThem) {
  std::vector<LineMessage> rows(20, LineMessage{88200, 6});
  rows[10].bytes = 0;
  const auto early = playback::PlanEarlySending(rows, 56000);
  // The rows before and after it are sent early; so is the row between them.
  ASSERT_GE(early.size(), 12U);
  EXPECT_EQ(early[9].index, 9U);
  EXPECT_EQ(early[10].index, 10U);
  EXPECT_EQ(early[11].index, 11U);
  EXPECT_LE(early[10].position, early[11].position);
  EXPECT_GE(early[10].position, early[9].position);
}

TEST(LineReportTest, OnlyTheControllersTwoRatesAreTakenAnyOtherIsRefusedByName) {
  struct Case {
    const char* text;
    int rate;  // 0: refused
  };
  const Case cases[] = {{"115200", 115200}, {"56000", 56000},   {"", 0}, {"9600", 0}, {"56000 ", 0},
                        {"056000", 0},      {"115200,N,8,1", 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    const platform::Result<int> rate = playback::ParseLineRate(c.text);
    if (c.rate != 0) {
      ASSERT_TRUE(rate.ok());
      EXPECT_EQ(rate.value(), c.rate);
    } else {
      ASSERT_FALSE(rate.ok());
      EXPECT_EQ(rate.message(), "The baud rate \"" + std::string(c.text) +
                                    "\" is not one the controllers take: choose 56000 or 115200");
    }
  }
}

TEST(LineReportTest, MinutesAndSecondsIntoTheSong) {
  EXPECT_EQ(playback::MinutesSeconds(0.4), "0:00");
  EXPECT_EQ(playback::MinutesSeconds(83.9), "1:23");
  EXPECT_EQ(playback::MinutesSeconds(-1), "0:00");
}

// One message alone every 4096 positions, `offset` after the step before its
// flush: written on that flush, on an empty line (the keep-alives fall between
// steps), so its lateness is known without the line model. A row without a
// message comes last, as the player writes the last batch at once.
struct Lone {
  std::int32_t offset;
  std::int32_t bytes;
};

TEST(LineSimulationTest, PercentilesAreTheRanksOfTheSortedLateness) {
  const auto spread = [](int n) {
    std::vector<Lone> rows;
    for (int k = 0; k < n; ++k) rows.push_back({(k * 37) % 511 + 1, k % 3 == 0 ? 9 : 5 + k % 2});
    return rows;
  };
  std::vector<Lone> clustered(180, Lone{205, 6});
  for (int k = 0; k < 180; ++k) clustered[static_cast<std::size_t>(k)].offset += k % 7;
  clustered.push_back({1, 9});
  struct Case {
    const char* name;
    std::vector<Lone> rows;
  };
  const Case cases[] = {
      {"one row", {{300, 6}}},
      {"two rows", {{300, 6}, {10, 9}}},
      {"every row as late", std::vector<Lone>(150, Lone{100, 6})},
      {"spread over the step", spread(200)},
      {"a hundred rows, ranks on the boundary", spread(100)},
      {"a cluster and one far from it", clustered},
  };
  for (const Case& c : cases) {
    std::vector<LineMessage> messages;
    std::vector<float> lateness;
    for (std::size_t k = 0; k < c.rows.size(); ++k) {
      const std::int32_t step = 4096 * static_cast<std::int32_t>(k + 1);
      messages.push_back({step + c.rows[k].offset, c.rows[k].bytes});
      lateness.push_back(
          static_cast<float>((512.0 - c.rows[k].offset) / 88200 + c.rows[k].bytes * kByte115200));
    }
    messages.push_back({4096 * static_cast<std::int32_t>(c.rows.size() + 1), 0});
    std::sort(lateness.begin(), lateness.end());
    const auto at = [&](double fraction) {
      const auto rank = static_cast<std::size_t>(std::ceil(fraction * lateness.size()));
      return lateness[rank == 0 ? 0 : rank - 1];
    };
    const playback::LineReport report = playback::SimulatePlayback(messages, 115200);
    EXPECT_NEAR(report.p50, at(0.5), 1e-7) << c.name;
    EXPECT_NEAR(report.p99, at(0.99), 1e-7) << c.name;
    EXPECT_NEAR(report.earliest, lateness.front(), 1e-7) << c.name;
    EXPECT_NEAR(report.max, lateness.back(), 1e-7) << c.name;
  }
}

}  // namespace
