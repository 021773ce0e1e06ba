#include "playback/wire_protocol.h"

#include <gtest/gtest.h>

#include <optional>
#include <ostream>
#include <string>

#include "tests/playback/playback_rig.h"

namespace {

using playback::EncodeEvent;
using playback::EncodeResult;
using playback_test::Hex;
using playback_test::Record;
using playback_test::Row;
using playback_test::ToHex;

constexpr std::int64_t kAudioEnd = 100 * playback::kSamplesPerSecond;
constexpr auto kNull = std::nullopt;

struct GoldenCase {
  const char* name;
  Record row;
  const char* bytes;
};
std::ostream& operator<<(std::ostream& os, const GoldenCase& c) {
  return os << c.name;
}

class EncodeGolden : public testing::TestWithParam<GoldenCase> {};

TEST_P(EncodeGolden, AppendsExactBytes) {
  std::string out;
  EXPECT_EQ(EncodeEvent(GetParam().row, kAudioEnd, out), EncodeResult::Appended);
  EXPECT_EQ(ToHex(out), ToHex(Hex(GetParam().bytes)));
}

INSTANTIATE_TEST_SUITE_P(
    EveryCommand, EncodeGolden,
    testing::Values(
        // sample, device, channel, command, start, end, short, long
        GoldenCase{"Fade_Bank1", Row(0, 3, 4, 34, 0, 255, 1, 250), "00 03 34 00 FF 01 FA 04 00"},
        GoldenCase{"Fade_Bank2", Row(0, 12, 128, 24, 10, 200, 128, 20),
                   "00 0C 24 0A C8 80 14 80 00"},
        GoldenCase{"Level_Bank1_ZeroIntensity", Row(0, 2, 8, 33, 0), "00 02 33 00 08 00"},
        GoldenCase{"Level_Bank2_Channel9", Row(0, 5, 1, 23, 200), "00 05 23 C8 01 00"},
        GoldenCase{"Op6_Bank1", Row(0, 7, 16, 36), "00 07 36 10 00"},
        GoldenCase{"Op6_Bank2", Row(0, 7, 32, 26), "00 07 26 20 00"},
        GoldenCase{"Op7_Bank1", Row(0, 1, 255, 37), "00 01 37 FF 00"},
        GoldenCase{"Op7_Bank2", Row(0, 1, 64, 27), "00 01 27 40 00"},
        // Columns a command does not send may hold anything, nulls included.
        GoldenCase{"Level_IgnoresUnsentColumns", Row(kNull, 4, 2, 33, 9, 999, 7, kNull),
                   "00 04 33 09 02 00"},
        GoldenCase{"NoParameters_IgnoresIntensities", Row(5, 4, 2, 37, kNull, -1),
                   "00 04 37 02 00"}),
    [](const testing::TestParamInfo<GoldenCase>& info) { return info.param.name; });

TEST(EncodeEvent, AppendsBehindWhatTheBufferHolds) {
  std::string out = Hex("00 01 33 05 01 00");
  ASSERT_EQ(EncodeEvent(Row(0, 1, 2, 36), kAudioEnd, out), EncodeResult::Appended);
  EXPECT_EQ(ToHex(out), "00 01 33 05 01 00 00 01 36 02 00");
}

TEST(EncodeEvent, CommandsWithoutMessageAppendNothing) {
  for (importer::Value command :
       {importer::Value(0), importer::Value(-10), importer::Value(35), importer::Value(43),
        importer::Value(99), importer::Value(INT32_MIN), importer::Value(INT32_MAX),
        importer::Value()}) {
    std::string out = "x";
    EXPECT_EQ(EncodeEvent(Row(0, 1, 1, command, 1, 1, 1, 1), kAudioEnd, out),
              EncodeResult::NoMessage)
        << command.value_or(-999);
    EXPECT_EQ(out, "x");
  }
}

struct RejectCase {
  const char* name;
  Record row;
};
std::ostream& operator<<(std::ostream& os, const RejectCase& c) {
  return os << c.name;
}

class EncodeRejects : public testing::TestWithParam<RejectCase> {};

TEST_P(EncodeRejects, LeavesBufferUnchanged) {
  std::string out = "kept";
  EXPECT_EQ(EncodeEvent(GetParam().row, kAudioEnd, out), EncodeResult::Rejected);
  EXPECT_EQ(out, "kept");
}

INSTANTIATE_TEST_SUITE_P(
    ValuesOutsideAByte, EncodeRejects,
    testing::Values(RejectCase{"Device256", Row(0, 256, 1, 33, 0)},
                    RejectCase{"DeviceNegative", Row(0, -1, 1, 36)},
                    RejectCase{"DeviceNull", Row(0, kNull, 1, 37)},
                    RejectCase{"ChannelTooBig", Row(0, 1, 300, 26)},
                    RejectCase{"ChannelNull", Row(0, 1, kNull, 27)},
                    RejectCase{"LevelIntensity256", Row(0, 1, 1, 23, 256)},
                    RejectCase{"LevelIntensityNull", Row(0, 1, 1, 33, kNull)},
                    RejectCase{"FadeEndNegative", Row(0, 1, 1, 34, 0, -5, 1, 250)},
                    RejectCase{"FadeShortCodeTooBig", Row(0, 1, 1, 24, 0, 5, 300, 20)},
                    RejectCase{"FadeOneCodeMissing", Row(0, 1, 1, 34, 0, 5, 1, kNull)}),
    [](const testing::TestParamInfo<RejectCase>& info) { return info.param.name; });

// A fade without codes runs from its own moment to the end of the audio; the
// codes are those the fade timing table gives for that span.
struct OpenFadeCase {
  const char* name;
  std::int64_t sample;
  std::int64_t audioEnd;
  int shortCode;
  int longCode;
};
std::ostream& operator<<(std::ostream& os, const OpenFadeCase& c) {
  return os << c.name;
}

class EncodeOpenFade : public testing::TestWithParam<OpenFadeCase> {};

TEST_P(EncodeOpenFade, UsesSpanToEndOfAudio) {
  const auto& c = GetParam();
  std::string out;
  ASSERT_EQ(EncodeEvent(Row(static_cast<std::int32_t>(c.sample), 2, 1, 34, 10, 0, kNull, kNull),
                        c.audioEnd, out),
            EncodeResult::Appended);
  std::string expected = Hex("00 02 34 0A 00");
  expected.push_back(static_cast<char>(c.shortCode));
  expected.push_back(static_cast<char>(c.longCode));
  expected += Hex("01 00");
  EXPECT_EQ(ToHex(out), ToHex(expected));
}

INSTANTIATE_TEST_SUITE_P(
    LastFadeOfChannel, EncodeOpenFade,
    testing::Values(
        // One second before the end: the one-second row of the table.
        OpenFadeCase{"OneSecondLeft", 9 * 88200, 10 * 88200, 1, 250},
        // Just under 0.1 s left: the first row.
        OpenFadeCase{"TenthOfASecondLeft", 10 * 88200 - 8819, 10 * 88200, 19, 195},
        // Exactly at the end: a span of 0.
        OpenFadeCase{"AtTheEnd", 10 * 88200, 10 * 88200, 19, 195},
        // Past the end, or audio of unknown length: no row covers it.
        OpenFadeCase{"PastTheEnd", 11 * 88200, 10 * 88200, 128, 20},
        // Half a minute left: beyond the last real row (25 s).
        OpenFadeCase{"LongerThanTheTable", 0, 30 * 88200, 128, 20}),
    [](const testing::TestParamInfo<OpenFadeCase>& info) { return info.param.name; });

}  // namespace
