#pragma once

#include <array>
#include <cstdint>

namespace sequence_format {

// One row of the fade timing table: a fade lasting from `threshold` sample
// positions (88,200 a second) up to the next row's threshold is sent with the
// codes `shortCode` (ShortInterval) and `longCode` (LongInterval).
struct FadeTimingRow {
  std::int32_t threshold;
  std::int32_t shortCode;
  std::int32_t longCode;
};

inline constexpr int kFadeTimingRows = 108;
using FadeTimingTable = std::array<FadeTimingRow, kFadeTimingRows>;

// The codes for one fade. Binds as `auto [shortCode, longCode] = ...`.
struct FadeTiming {
  std::int32_t shortCode;
  std::int32_t longCode;
  bool operator==(const FadeTiming&) const = default;
};

// The codes for a span no row covers: below 0, or from the last threshold
// (99,999,999) up.
inline constexpr FadeTiming kUncoveredFadeTiming{128, 20};

// The 108 rows the controllers understand, thresholds rising strictly. They
// never change: every compile and every player reads this one table.
extern const FadeTimingTable kFadeTimingTable;

// A copy of kFadeTimingTable: the main window fills its own field from it once
// at start-up.
FadeTimingTable FillFadeTimingTable();

// The codes of the first row i with Threshold(i) <= duration < Threshold(i+1),
// i from 0 to 106; kUncoveredFadeTiming when there is none. `duration` is in
// sample positions.
FadeTiming LookupFadeTiming(const FadeTimingTable& table, std::int64_t duration);

// The same over kFadeTimingTable.
FadeTiming LookupFadeTiming(std::int64_t duration);

}  // namespace sequence_format
