#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "playback/wire_protocol.h"
#include "tests/fakes/pty_line.h"
#include "tests/fakes/run_program.h"
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

// `glimmer monitor` run on the slave side of a pseudo-terminal; the test
// plays the controller line on the master side. Bytes queued before the
// monitor opened it (the show played while nobody read the line) all arrive
// at once and show at 0 ms; the monitor says so on standard error, so they
// are not taken for the show's timing. (Whether a line with nothing queued
// gets no note cannot be told apart here from the monitor opening the line
// late.)
TEST(MonitorCommand, PrintsMessagesAndEndsWhenTheOtherSideCloses) {
  const char* bin = std::getenv("GLIMMER_BIN");
  std::string program = std::string(bin ? bin : GLIMMER_BUILD_BIN) + "/glimmer";
  ASSERT_TRUE(std::filesystem::exists(program)) << program;

  // Raw from the start, so bytes sent before the monitor has set it up are
  // neither echoed nor translated; the monitor inherits neither side.
  fakes::PtyLine line;
  const auto send = [&](const std::string& bytes) {
    ASSERT_EQ(write(line.MasterFd(), bytes.data(), bytes.size()), ssize_t(bytes.size()));
  };
  send(std::string(playback::kPortOpenBurst) + std::string(playback::kKeepAliveMessage));
  fakes::ChildProcess child({program, "monitor", "--baud", "56000", line.Name()});
  ASSERT_TRUE(child.Started());

  // The backlog's lines show the monitor has the line.
  std::string output, errors;
  child.ReadOutUntil(output, fakes::HasLines(2));
  EXPECT_EQ(output, "0 port-open\n0 keep-alive\n");
  send(std::string("\x00\x03\x34\x00\xFF\x01\xFA\x04\x00\x01\x02", 11));
  child.ReadOutUntil(output, fakes::HasLines(3));
  const std::string fade = " device 3 fade bank 1 start 0 end 255 short 1 long 250 mask 0x04\n";
  ASSERT_NE(output.find(fade), std::string::npos) << output;

  // With the line gone the monitor prints what it held and ends: its output
  // closes, and only then is it waited for.
  line.Unplug();
  ASSERT_TRUE(child.ReadOutToEnd(output)) << "the monitor did not end: " << output;
  child.ReadErrToEnd(errors);
  EXPECT_EQ(child.Wait(), 0) << output << errors;
  EXPECT_TRUE(output.ends_with(" unknown bytes: 01 02\n")) << "held bytes lost: " << output;
  EXPECT_TRUE(errors.starts_with("glimmer monitor: 8 bytes were already waiting on " + line.Name() +
                                 ", written before the monitor started"))
      << errors;
}

}  // namespace
