#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tools/glimmer/message_decoder.h"

namespace {

using glimmer::MessageDecoder;
using glimmer::MonitorLine;

std::string Bytes(std::initializer_list<int> values) {
  std::string s;
  for (int v : values) s.push_back(static_cast<char>(v));
  return s;
}

std::vector<std::string> Texts(const std::vector<MonitorLine>& lines) {
  std::vector<std::string> t;
  for (const auto& l : lines) t.push_back(l.Format());
  return t;
}

// The whole stream at once at time 0, then the line goes quiet.
std::vector<std::string> DecodeAll(const std::string& stream) {
  MessageDecoder d;
  auto lines = d.Feed(stream, 0);
  const auto rest = d.Flush();
  lines.insert(lines.end(), rest.begin(), rest.end());
  return Texts(lines);
}

using Lines = std::vector<std::string>;

TEST(MonitorDecoder, FixedMessages) {
  std::string burst;
  for (int i = 0; i < 8; ++i) burst += Bytes({0x00, 0xFF, 0x41, 0x00});
  Lines expected(8, "0 port-open");
  expected.push_back("0 keep-alive");
  EXPECT_EQ(DecodeAll(burst + Bytes({0x00, 0xFF, 0x81, 0x00})), expected);
}

TEST(MonitorDecoder, EveryEventMessageOfBothBanks) {
  const std::string stream =
      Bytes({0x00, 0x03, 0x34, 0x00, 0xFF, 0x01, 0xFA, 0x04, 0x00}) +  // fade, bank 1
      Bytes({0x00, 0x07, 0x24, 0x10, 0x20, 0x03, 0x04, 0x80, 0x00}) +  // fade, bank 2
      Bytes({0x00, 0x03, 0x33, 0x00, 0x01, 0x00}) +                    // intensity 0: inner zeros
      Bytes({0x00, 0x0C, 0x23, 0xC8, 0x01, 0x00}) +                    // channel 9
      Bytes({0x00, 0x01, 0x36, 0x02, 0x00}) + Bytes({0x00, 0x01, 0x26, 0x02, 0x00}) +
      Bytes({0x00, 0x01, 0x37, 0xFF, 0x00}) + Bytes({0x00, 0x01, 0x27, 0x00, 0x00});
  EXPECT_EQ(DecodeAll(stream),
            (Lines{"0 device 3 fade bank 1 start 0 end 255 short 1 long 250 mask 0x04",
                   "0 device 7 fade bank 2 start 16 end 32 short 3 long 4 mask 0x80",
                   "0 device 3 set bank 1 intensity 0 mask 0x01",
                   "0 device 12 set bank 2 intensity 200 mask 0x01",
                   "0 device 1 op6 bank 1 mask 0x02", "0 device 1 op6 bank 2 mask 0x02",
                   "0 device 1 op7 bank 1 mask 0xff", "0 device 1 op7 bank 2 mask 0x00"}));
}

TEST(MonitorDecoder, Device255IsAnEventDeviceExceptForTheFixedCommands) {
  EXPECT_EQ(DecodeAll(Bytes({0x00, 0xFF, 0x33, 0x40, 0x08, 0x00})),
            Lines{"0 device 255 set bank 1 intensity 64 mask 0x08"});
}

TEST(MonitorDecoder, SplitAnywhereGivesTheSameMessagesStampedByTheirFirstByte) {
  const std::string stream = Bytes({0x00, 0xFF, 0x81, 0x00}) +
                             Bytes({0x00, 0x03, 0x34, 0x00, 0xFF, 0x01, 0xFA, 0x04, 0x00}) +
                             Bytes({0x00, 0x03, 0x33, 0x00, 0x01, 0x00});
  // One byte per millisecond.
  MessageDecoder d;
  Lines got;
  for (std::size_t i = 0; i < stream.size(); ++i) {
    for (const auto& l : d.Feed(stream.substr(i, 1), static_cast<std::int64_t>(i))) {
      got.push_back(l.Format());
    }
  }
  EXPECT_TRUE(d.Flush().empty());
  EXPECT_EQ(got, (Lines{"0 keep-alive",
                        "4 device 3 fade bank 1 start 0 end 255 short 1 long 250 mask 0x04",
                        "13 device 3 set bank 1 intensity 0 mask 0x01"}));
}

TEST(MonitorDecoder, StrayBytesAreShownAndDecodingResumesAtTheNextZero) {
  EXPECT_EQ(DecodeAll(Bytes({0x01, 0x02, 0x00, 0xFF, 0x81, 0x00})),
            (Lines{"0 unknown bytes: 01 02", "0 keep-alive"}));
}

TEST(MonitorDecoder, UnknownCommandIsShownWithItsBytes) {
  EXPECT_EQ(DecodeAll(Bytes({0x00, 0x05, 0x99, 0x07, 0x00, 0xFF, 0x81, 0x00})),
            (Lines{"0 unknown bytes: 00 05 99 07", "0 keep-alive"}));
}

TEST(MonitorDecoder, MessageWithoutItsEndByteIsShownAsUnknown) {
  EXPECT_EQ(DecodeAll(Bytes({0x00, 0x03, 0x33, 0x80, 0x01, 0x05, 0x00, 0xFF, 0x81, 0x00})),
            (Lines{"0 unknown bytes: 00 03 33 80 01 05", "0 keep-alive"}));
}

TEST(MonitorDecoder, MessageThatLostItsStartByteIsShownInOneLine) {
  // The stray end byte of the damaged message is not a message of its own.
  EXPECT_EQ(DecodeAll(Bytes({0x03, 0x33, 0x80, 0x01, 0x00, 0x00, 0xFF, 0x81, 0x00})),
            (Lines{"0 unknown bytes: 03 33 80 01 00", "0 keep-alive"}));
}

TEST(MonitorDecoder, UnfinishedMessageWaitsThenShowsAsUnknownWhenTheLineGoesQuiet) {
  MessageDecoder d;
  EXPECT_TRUE(d.Feed(Bytes({0x00, 0x03, 0x34, 0x00}), 5).empty());
  EXPECT_TRUE(d.HasPending());
  EXPECT_EQ(Texts(d.Flush()), Lines{"5 unknown bytes: 00 03 34 00"});
  EXPECT_FALSE(d.HasPending());
  // Stray bytes with no zero after them wait too.
  EXPECT_TRUE(d.Feed(Bytes({0x42}), 9).empty());
  EXPECT_EQ(Texts(d.Flush()), Lines{"9 unknown bytes: 42"});
}

TEST(MonitorDecoder, UnknownBytesAreShownBeforeTheMessageThatFollows) {
  MessageDecoder d;
  EXPECT_TRUE(d.Feed(Bytes({0x07, 0x08}), 1).empty());
  EXPECT_EQ(Texts(d.Feed(Bytes({0x00, 0xFF, 0x41, 0x00}), 2)),
            (Lines{"1 unknown bytes: 07 08", "2 port-open"}));
}

}  // namespace
