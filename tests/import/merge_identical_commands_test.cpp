#include "import/merge_identical_commands.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "import/compiler_passes.h"
#include "tests/fakes/fake_user_interface.h"
#include "tests/import/recording_compile_window.h"

namespace importer {
namespace {

using importer_tests::RecordingCompileWindow;

// SampleNumber, Device, Channel, Command, StartIntensity, EndIntensity,
// ShortInterval, LongInterval.
using Row = std::array<Value, kColumnCount>;

EventTable MakeTable(const std::vector<Row>& rows) {
  EventTable table;
  for (const Row& row : rows) {
    table.AddRow();
    for (int c = 0; c < kColumnCount; ++c) {
      table.Set(static_cast<Column>(c), row[static_cast<std::size_t>(c)]);
    }
  }
  return table;
}

std::vector<Row> Rows(EventTable& table) {
  std::vector<Row> rows;
  for (table.MoveFirst(); !table.AtEnd(); table.MoveNext()) {
    Row row;
    for (int c = 0; c < kColumnCount; ++c) {
      row[static_cast<std::size_t>(c)] = table.Get(static_cast<Column>(c));
    }
    rows.push_back(row);
  }
  return rows;
}

constexpr std::nullopt_t null = std::nullopt;

class MergeTest : public ::testing::Test {
 protected:
  std::vector<Row> Merge(const std::vector<Row>& input) {
    EventTable table = MakeTable(input);
    EventTable merged = MergeIdenticalCommands(table, window_, ui_);
    return Rows(merged);
  }
  fakes::FakeUserInterface ui_;
  RecordingCompileWindow window_{ui_, true};
};

TEST_F(MergeTest, GroupsOnlyRowsEqualInAllSevenOtherColumns) {
  struct Case {
    const char* name;
    std::vector<Row> input;
    std::vector<Row> expected;
  };
  const std::vector<Case> cases = {
      {"a lone row comes out unchanged",
       {{100, 3, 8, 33, 1, 2, null, null}},
       {{100, 3, 8, 33, 1, 2, null, null}}},
      {"channels 1, 3 and 5 of one controller",
       {{0, 1, 16, 34, 0, 255, 2, 244},
        {0, 1, 1, 34, 0, 255, 2, 244},
        {0, 1, 4, 34, 0, 255, 2, 244}},
       {{0, 1, 21, 34, 0, 255, 2, 244}}},
      {"two controllers",
       {{0, 1, 1, 33, 9, 9, null, null}, {0, 2, 2, 33, 9, 9, null, null}},
       {{0, 1, 1, 33, 9, 9, null, null}, {0, 2, 2, 33, 9, 9, null, null}}},
      {"channel 1 and channel 9 are other banks",
       {{0, 1, 1, 34, 0, 255, 4, 120}, {0, 1, 1, 24, 0, 255, 4, 120}},
       {{0, 1, 1, 34, 0, 255, 4, 120}, {0, 1, 1, 24, 0, 255, 4, 120}}},
      {"another moment",
       {{0, 1, 1, 33, 9, 9, null, null}, {1, 1, 2, 33, 9, 9, null, null}},
       {{0, 1, 1, 33, 9, 9, null, null}, {1, 1, 2, 33, 9, 9, null, null}}},
      {"other intensities",
       {{0, 1, 1, 33, 9, 9, null, null},
        {0, 1, 2, 33, 8, 9, null, null},
        {0, 1, 4, 33, 9, 8, null, null}},
       {{0, 1, 1, 33, 9, 9, null, null},
        {0, 1, 2, 33, 8, 9, null, null},
        {0, 1, 4, 33, 9, 8, null, null}}},
      {"other short interval",
       {{0, 1, 1, 34, 0, 255, 2, 244}, {0, 1, 2, 34, 0, 255, 1, 244}},
       {{0, 1, 1, 34, 0, 255, 2, 244}, {0, 1, 2, 34, 0, 255, 1, 244}}},
      {"other long interval",
       {{0, 1, 1, 34, 0, 255, 2, 244}, {0, 1, 2, 34, 0, 255, 2, 243}},
       {{0, 1, 1, 34, 0, 255, 2, 244}, {0, 1, 2, 34, 0, 255, 2, 243}}},
      {"null against set intervals",
       {{0, 1, 1, 34, 0, 255, null, null}, {0, 1, 2, 34, 0, 255, 19, 195}},
       {{0, 1, 1, 34, 0, 255, null, null}, {0, 1, 2, 34, 0, 255, 19, 195}}},
      {"null against a zero interval",
       {{0, 1, 1, 34, 0, 255, null, null}, {0, 1, 2, 34, 0, 255, 0, 0}},
       {{0, 1, 1, 34, 0, 255, null, null}, {0, 1, 2, 34, 0, 255, 0, 0}}},
      {"null intervals merge and stay null",
       {{0, 1, 1, 34, 0, 255, null, null}, {0, 1, 2, 34, 0, 255, null, null}},
       {{0, 1, 3, 34, 0, 255, null, null}}},
      {"the mask is a plain sum",
       {{0, 1, 256, 33, 0, 0, null, null}, {0, 1, 1, 33, 0, 0, null, null}},
       {{0, 1, 257, 33, 0, 0, null, null}}},
      {"output rows in playback order of each group's first row",
       {{10, 1, 2, 33, 0, 0, null, null},
        {5, 1, 1, 34, 0, 255, null, null},
        {10, 1, 1, 33, 0, 0, null, null},
        {5, 1, 4, 36, 0, 0, null, null}},
       {{5, 1, 1, 34, 0, 255, null, null},
        {5, 1, 4, 36, 0, 0, null, null},
        {10, 1, 3, 33, 0, 0, null, null}}},
  };
  for (const Case& c : cases) EXPECT_EQ(Merge(c.input), c.expected) << c.name;
}

TEST_F(MergeTest, EmptyInputGivesAnEmptyTable) {
  EXPECT_TRUE(Merge({}).empty());
  EXPECT_TRUE(window_.statuses.empty());
}

TEST_F(MergeTest, LeavesTheInputInPlaybackOrderPastItsEnd) {
  const std::vector<Row> input = {{10, 1, 2, 33, 0, 0, null, null},
                                  {5, 2, 1, 34, 0, 255, null, null},
                                  {5, 1, 1, 34, 0, 255, 8, 253}};
  EventTable table = MakeTable(input);
  EventTable merged = MergeIdenticalCommands(table, window_, ui_);
  EXPECT_TRUE(table.AtEnd());
  EXPECT_EQ(Rows(table), (std::vector<Row>{input[2], input[1], input[0]}));
}

// n rows, each its own group.
std::vector<Row> DistinctRows(int n) {
  std::vector<Row> rows;
  for (int i = 0; i < n; ++i) rows.push_back({i, 1, 1, 33, 0, 0, null, null});
  return rows;
}

TEST_F(MergeTest, ProgressEveryHundredRows) {
  struct Case {
    int rows;
    std::vector<std::string> expected;
  };
  const std::string head = "Optimization - Bitmask Of Identical Commands (";
  const std::vector<Case> cases = {
      {99, {}},
      {250,
       {head + "40% completed) - Optimized Output: 99",
        head + "80% completed) - Optimized Output: 199"}},
      {800,
       {head + "12% completed) - Optimized Output: 99",
        head + "25% completed) - Optimized Output: 199",
        head + "38% completed) - Optimized Output: 299",
        head + "50% completed) - Optimized Output: 399",
        head + "62% completed) - Optimized Output: 499",
        head + "75% completed) - Optimized Output: 599",
        head + "88% completed) - Optimized Output: 699",
        head + "100% completed) - Optimized Output: 799"}},
  };
  for (const Case& c : cases) {
    fakes::FakeUserInterface ui;
    RecordingCompileWindow window(ui, true);
    EventTable table = MakeTable(DistinctRows(c.rows));
    EventTable merged = MergeIdenticalCommands(table, window, ui);
    EXPECT_EQ(window.statuses, c.expected) << c.rows;
    EXPECT_TRUE(window.YieldedAfterEveryText()) << c.rows;
    EXPECT_EQ(merged.RowCount(), static_cast<std::size_t>(c.rows));
  }
}

// Pairs of channels merge: at position 100, 99 rows have been looked at and
// made 50 output rows.
TEST_F(MergeTest, OutputCountIsTakenBeforeTheRowAtThatPosition) {
  std::vector<Row> input;
  for (int i = 0; i < 100; ++i) {
    input.push_back({i, 1, 1, 33, 0, 0, null, null});
    input.push_back({i, 1, 2, 33, 0, 0, null, null});
  }
  Merge(input);
  const std::string head = "Optimization - Bitmask Of Identical Commands (";
  EXPECT_EQ(window_.statuses,
            (std::vector<std::string>{head + "50% completed) - Optimized Output: 50",
                                      head + "100% completed) - Optimized Output: 100"}));
}

// The written algorithm, literally: for each input row in playback order, look
// for its group among the output rows; when it is not there, add up the
// channels of every input row of the group. Quadratic, and plainly right.
std::vector<Row> ReferenceMerge(EventTable& input) {
  EXPECT_TRUE(input.Sort(kPlaybackSort).ok());
  const std::vector<Row> rows = Rows(input);
  const auto sameGroup = [](const Row& a, const Row& b) {
    for (int c = 0; c < kColumnCount; ++c) {
      if (c != static_cast<int>(Column::Channel) && a[c] != b[c]) return false;
    }
    return true;
  };
  std::vector<Row> output;
  for (const Row& row : rows) {
    bool merged = false;
    for (const Row& out : output) merged = merged || sameGroup(out, row);
    if (merged) continue;
    std::int32_t mask = 0;
    for (const Row& other : rows) {
      if (sameGroup(other, row)) mask += *other[static_cast<std::size_t>(Column::Channel)];
    }
    Row out = row;
    out[static_cast<std::size_t>(Column::Channel)] = mask;
    output.push_back(out);
  }
  return output;
}

TEST_F(MergeTest, AgreesWithTheWrittenAlgorithmOnRandomShows) {
  std::mt19937 random(20261206);
  const auto pick = [&](int n) { return static_cast<std::int32_t>(random() % n); };
  for (int round = 0; round < 20; ++round) {
    std::vector<Row> input;
    for (int i = 0; i < 300; ++i) {
      const bool fade = pick(2) == 0;
      const bool bank2 = pick(2) == 0;
      const Value shortCode = fade && pick(3) != 0 ? Value(1 + pick(2)) : null;
      const Value longCode = shortCode ? Value(200 + pick(2)) : null;
      input.push_back({pick(6) * 1000, 1 + pick(2), 1 << pick(8),
                       (fade ? 34 : 33) - (bank2 ? 10 : 0), pick(2) * 255, 255, shortCode,
                       longCode});
    }
    EventTable forReference = MakeTable(input);
    EXPECT_EQ(Merge(input), ReferenceMerge(forReference)) << "round " << round;
  }
}

}  // namespace
}  // namespace importer
