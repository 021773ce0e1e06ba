#include "import/fade_timing.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <tuple>
#include <vector>

namespace importer {
namespace {

TEST(FadeTimingTable, ThresholdsFollowTheirSteps) {
  const FadeTimingTable table = FillFadeTimingTable();
  for (int i = 0; i <= 50; ++i) EXPECT_EQ(table[i].threshold, 8820 * i) << i;
  for (int i = 50; i <= 82; ++i) EXPECT_EQ(table[i].threshold, 441000 + 17640 * (i - 50)) << i;
  for (int i = 1; i < kFadeTimingRows; ++i) EXPECT_LT(table[i - 1].threshold, table[i].threshold);
  EXPECT_EQ(table[106].threshold, 2205000);
  EXPECT_EQ(table[107].threshold, 99999999);
}

TEST(LookupFadeTiming, KnownSpans) {
  const std::vector<std::tuple<std::int64_t, FadeTiming>> cases = {
      {0, {19, 195}},          // row 0: the next event at the same moment
      {8819, {19, 195}},       // still row 0
      {8820, {19, 195}},       // row 1 has the same codes
      {17640, {9, 225}},       // row 2
      {44099, {4, 241}},       // just below half a second: row 4
      {44100, {2, 244}},       // half a second: row 5
      {176399, {1, 10}},       // row 19
      {176400, {8, 253}},      // two seconds: row 20
      {1005480, {128, 44}},    // row 82, the last 0.2 s step
      {1040759, {128, 44}},    // still row 82
      {2204999, {128, 21}},    // row 105
      {2205000, {128, 20}},    // 25 seconds: row 106
      {99999998, {128, 20}},   // row 106 up to the closing row
      {99999999, {128, 20}},   // no row covers it
      {INT64_MAX, {128, 20}},  // no row covers it
      {-1, {128, 20}},         // negative: no row covers it
      {INT64_MIN, {128, 20}},
  };
  for (const auto& [duration, expected] : cases) {
    EXPECT_EQ(LookupFadeTiming(duration), expected) << duration;
  }
}

// The lookup must give what a scan from the top gives, at every edge.
TEST(LookupFadeTiming, AgreesWithAScanAtEveryThreshold) {
  const FadeTimingTable table = FillFadeTimingTable();
  const auto scan = [&](std::int64_t d) {
    for (int i = 0; i <= 106; ++i) {
      if (table[i].threshold <= d && d < table[i + 1].threshold) {
        return FadeTiming{table[i].shortCode, table[i].longCode};
      }
    }
    return FadeTiming{128, 20};
  };
  for (const FadeTimingRow& row : table) {
    for (std::int64_t d = row.threshold - 1; d <= row.threshold + 1; ++d) {
      EXPECT_EQ(LookupFadeTiming(table, d), scan(d)) << d;
    }
  }
}

}  // namespace
}  // namespace importer
