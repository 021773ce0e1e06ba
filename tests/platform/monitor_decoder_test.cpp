#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "tools/glimmer/message_decoder.h"

namespace {

using glimmer::MessageDecoder;
using Lines = std::vector<std::string>;

// "00 FF 41 00" -> those four bytes.
std::string Hex(const std::string& text) {
  std::istringstream in(text);
  std::string bytes;
  for (int byte; in >> std::hex >> byte;) bytes.push_back(static_cast<char>(byte));
  return bytes;
}

Lines Texts(const std::vector<glimmer::MonitorLine>& lines) {
  Lines texts;
  for (const auto& l : lines) texts.push_back(l.Format());
  return texts;
}

TEST(MonitorDecoder, SplitAnywhereGivesTheSameMessagesStampedByTheirFirstByte) {
  const std::string stream = Hex("00 FF 81 00  00 03 34 00 FF 01 FA 04 00  00 03 33 00 01 00");
  // One byte per millisecond.
  MessageDecoder d;
  Lines got;
  for (std::size_t i = 0; i < stream.size(); ++i) {
    const Lines more = Texts(d.Feed(stream.substr(i, 1), std::int64_t(i)));
    got.insert(got.end(), more.begin(), more.end());
  }
  EXPECT_TRUE(d.Flush().empty());
  EXPECT_EQ(got, (Lines{"0 keep-alive",
                        "4 device 3 fade bank 1 start 0 end 255 short 1 long 250 mask 0x04",
                        "13 device 3 set bank 1 intensity 0 mask 0x01"}));
}

// How each message reads, and how the line is cut into messages however it
// arrives, is tested with the player's framer and encoder (wire protocol);
// here what the monitor adds: unknown bytes shown as such, held until the
// next message or the quiet, and times.
TEST(MonitorDecoder, UnknownBytesShowBeforeTheNextMessageOrWhenTheLineGoesQuiet) {
  MessageDecoder d;
  EXPECT_TRUE(d.Feed(Hex("07 08"), 1).empty());
  EXPECT_EQ(Texts(d.Feed(Hex("00 FF 41 00"), 2)), (Lines{"1 unknown bytes: 07 08", "2 port-open"}));
  EXPECT_TRUE(d.Feed(Hex("00 03 34 00"), 5).empty());
  EXPECT_TRUE(d.HasPending());
  EXPECT_EQ(Texts(d.Flush()), Lines{"5 unknown bytes: 00 03 34 00"});
  EXPECT_FALSE(d.HasPending());
  // The stray end byte of a message that lost its start is not a message of
  // its own.
  EXPECT_EQ(Texts(d.Feed(Hex("03 33 80 01 00 00 FF 81 00"), 6)),
            (Lines{"6 unknown bytes: 03 33 80 01 00", "6 keep-alive"}));
  EXPECT_TRUE(d.Flush().empty());
}

// A line that never carries a 0 was rescanned whole on every read and held
// without bound. Its bytes now come out in lines of a bounded size as they
// arrive, and the message after them still decodes.
TEST(MonitorDecoder, ALineWithoutZerosIsShownInBoundedPiecesAsItArrives) {
  MessageDecoder d;
  const std::string noise(4096, '\x5A');
  std::size_t shown = 0;
  for (int read = 0; read < 256; ++read) {
    for (const std::string& line : Texts(d.Feed(noise, read))) {
      ASSERT_TRUE(line.find(" unknown bytes: 5a") != std::string::npos) << line.substr(0, 40);
      const std::size_t bytes = (line.size() - line.find(':') - 1) / 3;
      EXPECT_EQ(bytes, MessageDecoder::kMaxUnknownPerLine);
      shown += bytes;
    }
  }
  EXPECT_EQ(shown, 256u * 4096u);
  EXPECT_EQ(Texts(d.Feed(Hex("00 FF 81 00"), 300)), Lines{"300 keep-alive"});
  EXPECT_FALSE(d.HasPending());
}

}  // namespace
