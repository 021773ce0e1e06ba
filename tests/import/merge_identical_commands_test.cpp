#include "import/merge_identical_commands.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "import/compiler_passes.h"
#include "tests/fakes/fake_user_interface.h"
#include "tests/import/import_support.h"

namespace importer {
using namespace sequence_format;
namespace {

using import_test::MakeTable;
using import_test::null;
using import_test::ReadAll;
using import_test::RecordingWindow;
using import_test::Values;
using Rows = std::vector<Values>;

class MergeTest : public ::testing::Test {
 protected:
  Rows Merge(const Rows& input) {
    EventTable table = MakeTable(input);
    EventTable merged = MergeIdenticalCommands(table, window_, ui_);
    return ReadAll(merged);
  }
  fakes::FakeUserInterface ui_;
  RecordingWindow window_{ui_, true};
};

TEST_F(MergeTest, GroupsOnlyRowsEqualInAllSevenOtherColumns) {
  // Name, input, output (empty: the input comes out unchanged).
  const std::tuple<const char*, Rows, Rows> cases[] = {
      {"a lone row", {{100, 3, 8, 33, 1, 2}}, {}},
      {"channels 1, 3 and 5 of one controller",
       {{0, 1, 16, 34, 0, 255, 2, 244},
        {0, 1, 1, 34, 0, 255, 2, 244},
        {0, 1, 4, 34, 0, 255, 2, 244}},
       {{0, 1, 21, 34, 0, 255, 2, 244}}},
      // Other moments, controllers, banks, start intensities and intervals:
      // the random shows below.
      {"other end intensity", {{0, 1, 1, 33, 9, 9}, {0, 1, 4, 33, 9, 8}}, {}},
      {"null against a zero interval", {{0, 1, 1, 34, 0, 255}, {0, 1, 2, 34, 0, 255, 0, 0}}, {}},
      {"null intervals merge and stay null",
       {{0, 1, 1, 34, 0, 255}, {0, 1, 2, 34, 0, 255}},
       {{0, 1, 3, 34, 0, 255}}},
      {"the mask is a plain sum",
       {{0, 1, 256, 33, 0, 0}, {0, 1, 1, 33, 0, 0}},
       {{0, 1, 257, 33, 0, 0}}},
  };
  for (const auto& [name, input, expected] : cases) {
    EXPECT_EQ(Merge(input), expected.empty() ? input : expected) << name;
  }
}

TEST_F(MergeTest, ShowsProgressEveryHundredRows) {
  const std::string head = "Optimization - Bitmask Of Identical Commands (";
  const auto text = [&](const char* percent, const char* output) {
    return head + percent + "% completed) - Optimized Output: " + output;
  };
  const std::pair<int, std::vector<std::string>> cases[] = {
      {0, {}},
      {99, {}},
      {250, {text("40", "99"), text("80", "199")}},
      {800,
       {text("12", "99"), text("25", "199"), text("38", "299"), text("50", "399"),
        text("62", "499"), text("75", "599"), text("88", "699"), text("100", "799")}},
  };
  for (const auto& [count, expected] : cases) {
    fakes::FakeUserInterface ui;
    RecordingWindow window(ui, true);
    Rows rows;  // each its own group
    for (int i = 0; i < count; ++i) rows.push_back({i, 1, 1, 33, 0, 0});
    EventTable table = MakeTable(rows);
    EventTable merged = MergeIdenticalCommands(table, window, ui);
    EXPECT_EQ(window.statuses, expected) << count;
    EXPECT_TRUE(window.YieldedAfterEveryText()) << count;
    EXPECT_EQ(merged.RowCount(), static_cast<std::size_t>(count));
  }
  // Pairs of channels merge: at position 100, 99 rows have been looked at and
  // made 50 output rows.
  Rows pairs;
  for (int i = 0; i < 100; ++i)
    pairs.insert(pairs.end(), {{i, 1, 1, 33, 0, 0}, {i, 1, 2, 33, 0, 0}});
  Merge(pairs);
  EXPECT_EQ(window_.statuses, (std::vector<std::string>{text("50", "50"), text("100", "100")}));
}

// The written algorithm, literally: for each input row in playback order, look
// for its group among the output rows; when it is not there, add up the
// channels of every input row of the group. Quadratic, and plainly right.
Rows ReferenceMerge(EventTable& input) {
  EXPECT_TRUE(input.Sort(kPlaybackSort).ok());
  const Rows rows = ReadAll(input);
  const auto sameGroup = [](const Values& a, const Values& b) {
    for (int c = 0; c < kColumnCount; ++c) {
      if (c != static_cast<int>(Column::Channel) && a[c] != b[c]) return false;
    }
    return true;
  };
  Rows output;
  for (const Values& row : rows) {
    bool merged = false;
    for (const Values& out : output) merged = merged || sameGroup(out, row);
    if (merged) continue;
    std::int32_t mask = 0;
    for (const Values& other : rows) {
      if (sameGroup(other, row)) mask += *other[static_cast<std::size_t>(Column::Channel)];
    }
    Values out = row;
    out[static_cast<std::size_t>(Column::Channel)] = mask;
    output.push_back(out);
  }
  return output;
}

TEST_F(MergeTest, AgreesWithTheWrittenAlgorithmOnRandomShows) {
  std::mt19937 random(20261206);
  const auto pick = [&](int n) { return static_cast<std::int32_t>(random() % n); };
  for (int round = 0; round < 20; ++round) {
    Rows input;
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
