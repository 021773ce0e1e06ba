#include "playback/wire_protocol.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "tests/playback/playback_rig.h"
#include "tools/glimmer/message_decoder.h"

namespace {

using playback::EncodeEvent;
using playback::EncodeResult;
using playback_test::Hex;
using playback_test::Record;
using playback_test::Row;
using playback_test::ToHex;

constexpr std::int64_t kAudioEnd = 100 * playback::kSamplesPerSecond;
constexpr auto kNull = std::nullopt;
const sequence_format::FadeTimingTable kFadeTimings = sequence_format::FillFadeTimingTable();

// Each row is encoded behind what the buffer already holds; a row without a
// message or with a field outside a byte leaves the buffer as it was.
TEST(EncodeEvent, AppendsTheMessageOfEachCommand) {
  struct Case {
    const char* name;
    Record row;
    const char* bytes;  // nullptr: rejected
  };
  // sample, device, channel, command, start, end, short, long
  const Case cases[] = {
      {"fade, bank 1", Row(0, 3, 4, 34, 0, 255, 1, 250), "00 03 34 00 FF 01 FA 04 00"},
      {"fade, bank 2", Row(0, 12, 128, 24, 10, 200, 128, 20), "00 0C 24 0A C8 80 14 80 00"},
      {"level, bank 1", Row(0, 2, 8, 33, 0), "00 02 33 00 08 00"},
      {"level, channel 9", Row(0, 5, 1, 23, 200), "00 05 23 C8 01 00"},
      {"op 6, bank 1", Row(0, 7, 16, 36), "00 07 36 10 00"},
      {"op 6, bank 2", Row(0, 7, 32, 26), "00 07 26 20 00"},
      {"op 7, bank 1", Row(0, 1, 255, 37), "00 01 37 FF 00"},
      {"op 7, bank 2", Row(0, 1, 64, 27), "00 01 27 40 00"},
      // Columns a command does not send may hold anything, nulls included.
      {"level, unsent columns", Row(kNull, 4, 2, 33, 9, 999, 7, kNull), "00 04 33 09 02 00"},
      {"op 7, unsent intensities", Row(5, 4, 2, 37, kNull, -1), "00 04 37 02 00"},
      {"device 256", Row(0, 256, 1, 33, 0), nullptr},
      {"device -1", Row(0, -1, 1, 36), nullptr},
      {"channel null", Row(0, 1, kNull, 27), nullptr},
      {"intensity null", Row(0, 1, 1, 33, kNull), nullptr},
      {"short code 300", Row(0, 1, 1, 24, 0, 5, 300, 20), nullptr},
      {"one code missing", Row(0, 1, 1, 34, 0, 5, 1, kNull), nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string out = Hex("00 01 33 05 01 00");
    const EncodeResult result = EncodeEvent(c.row, kAudioEnd, kFadeTimings, out);
    EXPECT_EQ(result, c.bytes ? EncodeResult::Appended : EncodeResult::Rejected);
    EXPECT_EQ(ToHex(out), "00 01 33 05 01 00" + (c.bytes ? " " + std::string(c.bytes) : ""));
  }
  for (const sequence_format::Value command : {0, -10, 35, 43, INT32_MIN, INT32_MAX}) {
    std::string out = "x";
    EXPECT_EQ(EncodeEvent(Row(0, 1, 1, command, 1, 1, 1, 1), kAudioEnd, kFadeTimings, out),
              EncodeResult::NoMessage)
        << *command;
    EXPECT_EQ(out, "x");
  }
  std::string out;
  EXPECT_EQ(EncodeEvent(Row(0, 1, 1, kNull), kAudioEnd, kFadeTimings, out),
            EncodeResult::NoMessage);
}

// A fade without timing codes takes them from the table it is given (the one
// the window filled), for the time left until the audio ends.
TEST(EncodeEvent, FadeWithoutTimingCodesUsesTheTableItIsGiven) {
  sequence_format::FadeTimingTable table = kFadeTimings;
  for (auto& row : table) row = {row.threshold, 7, 9};
  std::string out;
  ASSERT_EQ(
      EncodeEvent(Row(kAudioEnd - 88200, 2, 1, 34, 10, 0, kNull, kNull), kAudioEnd, table, out),
      EncodeResult::Appended);
  EXPECT_EQ(ToHex(out), "00 02 34 0A 00 07 09 01 00");
}

// Everything the encoder writes, the monitor's decoder reads back as the same
// messages: one line per message, none unknown, lengths from the one table.
TEST(EncodeEvent, MonitorDecoderReadsBackEveryCommandAndTheFixedMessages) {
  std::string stream(playback::kPortOpenBurst);
  std::vector<std::string> expected = {"port-open"};
  for (const playback::WireCommand& c : playback::kWireCommands) {
    std::string one;
    // Device 255 too: only the fixed messages' own command bytes mark them.
    ASSERT_EQ(EncodeEvent(Row(0, 255, 0x81, c.code, 0x41, 0, 3, 4), kAudioEnd, kFadeTimings, one),
              EncodeResult::Appended)
        << c.code;
    EXPECT_EQ(static_cast<int>(one.size()), c.Length()) << c.code;
    EXPECT_EQ(playback::MessageLength(0xFF, c.commandByte), c.Length()) << c.code;
    stream += one;
    const std::string bank = c.Bank() == 1 ? " bank 1" : " bank 2";
    const int op = c.Operation();
    expected.push_back("device 255 " +
                       (op == 3   ? "set" + bank + " intensity 65"
                        : op == 4 ? "fade" + bank + " start 65 end 0 short 3 long 4"
                                  : "operation " + std::to_string(op) + bank) +
                       " mask 0x81");
  }
  stream += playback::kKeepAliveMessage;
  expected.push_back("keep-alive");

  glimmer::MessageDecoder decoder;
  std::vector<std::string> decoded;
  for (const auto& line : decoder.Feed(stream, 0)) decoded.push_back(line.text);
  for (const auto& line : decoder.Flush()) decoded.push_back(line.text);
  EXPECT_EQ(decoded, expected);
}

// Each frame is a whole message or a run of bytes that cannot be one, with
// its place in the stream; however the stream is cut into reads, the frames
// are the same, and a message cut off by the quiet is unknown, not lost.
TEST(MessageFramer, SplitsTheStreamTheSameHoweverItArrives) {
  using Frames = std::vector<std::string>;  // "M@offset hex" or "U@offset hex"
  const auto describe = [](const std::vector<playback::WireFrame>& frames, Frames& out) {
    for (const auto& f : frames) {
      out.push_back((f.isMessage ? "M@" : "U@") + std::to_string(f.offset) + " " + ToHex(f.bytes));
    }
  };
  const struct {
    const char* name;
    std::string stream;
    Frames expected;
  } cases[] = {
      {"messages back to back",
       Hex("00 FF 41 00 00 03 33 00 01 00 00 01 36 02 00"),
       {"M@0 00 FF 41 00", "M@4 00 03 33 00 01 00", "M@10 00 01 36 02 00"}},
      {"stray bytes, then framing again at the next 0",
       Hex("07 08 00 FF 81 00"),
       {"U@0 07 08", "M@2 00 FF 81 00"}},
      {"a message without its end byte",
       Hex("00 03 33 80 01 05 00 FF 81 00"),
       {"U@0 00 03 33 80 01 05", "M@6 00 FF 81 00"}},
      {"an unknown command",
       Hex("00 05 99 07 00 FF 81 00"),
       {"U@0 00 05 99 07", "M@4 00 FF 81 00"}},
      {"cut off by the quiet",
       Hex("00 FF 81 00 00 03 34 00"),
       {"M@0 00 FF 81 00", "U@4 00 03 34 00"}},
  };
  for (const auto& c : cases) {
    for (const std::size_t piece : {c.stream.size(), std::size_t{1}, std::size_t{3}}) {
      playback::MessageFramer framer;
      Frames got;
      for (std::size_t at = 0; at < c.stream.size(); at += piece) {
        describe(framer.Feed(std::string_view(c.stream).substr(at, piece)), got);
      }
      describe(framer.Flush(), got);
      // Unknown runs cut by reads come out in pieces; joined they are the same.
      Frames joined;
      for (const std::string& f : got) {
        if (!joined.empty() && f[0] == 'U' && joined.back()[0] == 'U') {
          joined.back() += f.substr(f.find(' '));
        } else {
          joined.push_back(f);
        }
      }
      EXPECT_EQ(joined, c.expected) << c.name << ", pieces of " << piece;
      EXPECT_EQ(framer.HeldBytes(), 0u) << c.name;
      EXPECT_EQ(framer.HeldFrom(), c.stream.size()) << c.name;
    }
  }
}

}  // namespace
