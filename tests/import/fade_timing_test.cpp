#include "sequence_format/fade_timing.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <utility>

namespace sequence_format {
namespace {

TEST(FadeTiming, ThresholdsRiseInTheirSteps) {
  const FadeTimingTable table = FillFadeTimingTable();
  for (int i = 0; i <= 50; ++i) EXPECT_EQ(table[i].threshold, 8820 * i) << i;
  for (int i = 50; i <= 82; ++i) EXPECT_EQ(table[i].threshold, 441000 + 17640 * (i - 50)) << i;
  for (int i = 1; i < kFadeTimingRows; ++i) EXPECT_LT(table[i - 1].threshold, table[i].threshold);
  EXPECT_EQ(table[106].threshold, 2205000);
  EXPECT_EQ(table[107].threshold, 99999999);
}

TEST(FadeTiming, CodesAtTheThresholds) {
  const std::pair<std::int64_t, FadeTiming> cases[] = {
      {0, {19, 195}},        {8819, {19, 195}},      {8820, {19, 195}},     // rows 0 and 1
      {17640, {9, 225}},     {44099, {4, 241}},      {44100, {2, 244}},     // half a second
      {176399, {1, 10}},     {176400, {8, 253}},                            // two seconds
      {1040759, {128, 44}},  {2204999, {128, 21}},   {2205000, {128, 20}},  // 25 seconds
      {99999999, {128, 20}}, {INT64_MAX, {128, 20}}, {-1, {128, 20}},       // no row covers these
  };
  for (const auto& [duration, expected] : cases) {
    EXPECT_EQ(LookupFadeTiming(duration), expected) << duration;
  }
  // The lookup gives what a scan from the top gives, at every edge.
  const FadeTimingTable table = FillFadeTimingTable();
  for (const FadeTimingRow& row : table) {
    for (std::int64_t d = row.threshold - 1; d <= row.threshold + 1; ++d) {
      FadeTiming scanned = kUncoveredFadeTiming;
      for (int i = 106; i >= 0; --i) {
        if (table[i].threshold <= d && d < table[i + 1].threshold) {
          scanned = {table[i].shortCode, table[i].longCode};
        }
      }
      EXPECT_EQ(LookupFadeTiming(table, d), scanned) << d;
    }
  }
}

}  // namespace
}  // namespace sequence_format
