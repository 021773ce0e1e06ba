// The demo: its board reads the line as the controllers do, its meter pairs
// each arrival with its row, and the whole command runs a show end to end.
#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "sequence_format/sequence_cache.h"
#include "tests/fakes/run_program.h"
#include "tests/fakes/temp_dir.h"
#include "tests/tools/glimmer_process.h"
#include "tools/glimmer/demo_show.h"

namespace {

namespace fs = std::filesystem;
using glimmer::demo::ChannelState;
using glimmer::demo::ControllerBoard;
using Kind = ChannelState::Kind;

std::string Bytes(std::initializer_list<int> values) {
  std::string out;
  for (int v : values) out += static_cast<char>(v);
  return out;
}

TEST(DemoBoard, EachMessageSetsTheChannelsOfItsMaskInItsBank) {
  // The channel's kind, start, end and operation; the board's events and
  // unknown bytes.
  using Seen = std::tuple<Kind, int, int, int, long, long>;
  const struct {
    std::string bytes;
    std::pair<int, int> deviceAndChannel;
    Seen want;
  } cases[] = {
      // set, bank 1, mask picks channels 1 and 3
      {Bytes({0, 1, 0x33, 200, 0x05, 0}), {1, 3}, {Kind::Set, 200, 200, 0, 1, 0}},
      // fade, bank 2, mask 0x03 is channels 9 and 10
      {Bytes({0, 3, 0x24, 10, 250, 2, 244, 0x03, 0}), {3, 10}, {Kind::Fade, 10, 250, 0, 1, 0}},
      // bank 2 does not touch the same bit of bank 1
      {Bytes({0, 3, 0x23, 9, 0x01, 0}), {3, 1}, {Kind::None, 0, 0, 0, 1, 0}},
      {Bytes({0, 2, 0x27, 0x80, 0}), {2, 16}, {Kind::Operation, 0, 0, 7, 1, 0}},
      // keep-alive and port-open are no events
      {Bytes({0, 255, 0x81, 0, 0, 255, 0x41, 0}), {255, 1}, {Kind::None, 0, 0, 0, 0, 0}},
      // junk before a message is skipped up to it
      {Bytes({7, 7, 0, 4, 0x33, 9, 0x80, 0}), {4, 8}, {Kind::Set, 9, 9, 0, 1, 2}},
      // a zero intensity is data, not a frame
      {Bytes({0, 5, 0x33, 0, 0x02, 0}), {5, 2}, {Kind::Set, 0, 0, 0, 1, 0}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.bytes));
    // Byte by byte, as a slow line delivers them, and all at once.
    for (const bool split : {false, true}) {
      ControllerBoard board;
      if (split) {
        for (char b : c.bytes) board.Feed(std::string(1, b));
      } else {
        board.Feed(c.bytes);
      }
      const ChannelState& s = board.State(c.deviceAndChannel.first, c.deviceAndChannel.second);
      EXPECT_TRUE(Seen(s.kind, s.start, s.end, s.operation, board.events(), board.unknownBytes()) ==
                  c.want);
    }
  }
}

TEST(DemoBoard, RendersEveryExpectedChannelFromTheStart) {
  ControllerBoard board;
  board.Expect(1, 1);
  board.Expect(1, 2);
  board.Expect(3, 9);
  board.Feed(Bytes({0, 1, 0x34, 0, 255, 1, 250, 0x02, 0, 0, 3, 0x23, 0, 0x01, 0}));
  EXPECT_EQ(board.Render(), (std::vector<std::string>{
                                "controller   ch1   ch2   ch9",
                                "         1     ·  ↑255     -",
                                "         3     -     -     0",
                            }));
}

TEST(DemoLateness, PairsArrivalsWithRowsInOrderPastALostOne) {
  const std::string a = Bytes({0, 1, 0x33, 1, 1, 0}), b = Bytes({0, 1, 0x33, 2, 1, 0}),
                    c = Bytes({0, 1, 0x33, 1, 1, 0});
  // Rows due at 0.5 s, 1 s and 1.5 s; the second never arrives.
  glimmer::demo::LatenessMeter meter(
      {{a, 44100}, {b, 88200}, {c, 132300}, {Bytes({0, 9, 0x33, 0, 1, 0}), 176400}});
  EXPECT_TRUE(meter.Arrived(a, 1000.0 + 500 - 29.0 + 2));
  EXPECT_FALSE(meter.Arrived(Bytes({0, 8, 0x33, 0, 1, 0}), 1600));  // nobody's
  EXPECT_TRUE(meter.Arrived(c, 1000.0 + 1500 - 29.0 + 5));
  EXPECT_EQ(meter.Matched(), 2u);
  // Audio at 0 when the clock read 1000 ms; frame timing 5 sends 2,560
  // positions (29.02 ms) early, which is when a row is due.
  const std::vector<double> lateness = meter.Lateness(1000.0, 5);
  ASSERT_EQ(lateness.size(), 2u);
  EXPECT_NEAR(lateness[0], 2 + 0.0249, 0.001);
  EXPECT_NEAR(lateness[1], 5 + 0.0249, 0.001);
  EXPECT_DOUBLE_EQ(glimmer::demo::Median({3, 1, 2}), 2);
  EXPECT_DOUBLE_EQ(glimmer::demo::Median({4, 1, 3, 2}), 2.5);
}

// The real command, as the package installs it (the programs in usr/bin,
// the extractor in usr/libexec/glimmerfield): generated song and archive,
// the Add button's import through the extractor program, playback into a
// pseudo-terminal read back. The demo used to look for the extractor beside
// itself and end at once when installed, and it replaced the playlist of a
// player's folder it was given with its own single entry.
TEST(DemoCommand, RunsAWholeShowFromTheInstalledLayoutAndSummarisesIt) {
  fakes::TempDir dir;
  const fs::path built = fs::path(tools_test::GlimmerProgram()).parent_path();
  const fs::path prefix = dir.path() / "usr";
  fs::create_directories(prefix / "bin");
  fs::create_directories(prefix / "libexec/glimmerfield");
  fs::copy_file(built / "glimmer", prefix / "bin/glimmer");
  fs::copy_file(built / "glimmer-extract", prefix / "libexec/glimmerfield/glimmer-extract");
  const std::string glimmer = (prefix / "bin/glimmer").string();
  fakes::WriteBytes(dir.File("playlist.txt"), "the player's own playlist");
  const auto run = fakes::RunProgram(
      {glimmer, "demo", "--silent", "--seconds", "4", "--folder", dir.path().string()});
  ASSERT_EQ(run.exitCode, 0) << run.out << run.err;
  EXPECT_EQ(fakes::ReadBytes(dir.File("playlist.txt")), "the player's own playlist");
  EXPECT_FALSE(fs::exists(dir.File("Cache")));
  EXPECT_NE(run.out.find("holds a player's files, which the demo never writes over"),
            std::string::npos)
      << run.out;

  const std::regex summary(
      R"(\nDemo finished: (\d+) messages sent \((\d+) events, 8 port-open, (\d+) keep-alive\), )"
      R"(lateness median -?[0-9.]+ ms, max -?[0-9.]+ ms, silent\n)");
  std::smatch m;
  ASSERT_TRUE(std::regex_search(run.out, m, summary)) << run.out;
  const long messages = std::stol(m[1]), events = std::stol(m[2]), keepAlives = std::stol(m[3]);
  EXPECT_EQ(messages, events + 8 + keepAlives);
  EXPECT_GE(keepAlives, 4 + 4 * 2);  // the entry's own, then every 0.43 s

  // What the import left in a folder of its own: the compiled sequence of
  // three controllers with fades, bank 2 channels and merged channels, and
  // the playlist entry.
  const std::string folder = dir.File("glimmerfield-demo");
  const std::string cache = folder + "/Cache/glimmerfield-demo.csq";
  auto table = sequence_format::LoadSequenceCache(cache);
  ASSERT_TRUE(table) << table.message();
  std::set<std::int64_t> devices, commands, masks;
  for (const auto& row : table.value().Records()) {
    devices.insert(row.Get(sequence_format::Column::Device).value_or(-1));
    commands.insert(row.Get(sequence_format::Column::Command).value_or(-1));
    masks.insert(row.Get(sequence_format::Column::Channel).value_or(-1));
  }
  EXPECT_EQ(devices, (std::set<std::int64_t>{1, 2, 3}));
  EXPECT_EQ(commands, (std::set<std::int64_t>{23, 24, 33, 34}));
  EXPECT_TRUE(masks.count(0xFF)) << "the eight fading channels were not merged";
  EXPECT_EQ(events, static_cast<long>(table.value().Records().size()));
  const std::string playlist = fakes::ReadBytes(folder + "/playlist.txt");
  EXPECT_NE(
      playlist.find("Demo Beat - Glimmerfield         (" + folder + "/glimmerfield-demo.msq)\r\n"),
      std::string::npos)
      << playlist;

  // glimmer compile of the same archive, from the same installed copy, gives
  // the same compiled sequence.
  const std::string again = dir.File("again.csq");
  const auto compiled = fakes::RunProgram(
      {glimmer, "compile", "--bitmask", folder + "/glimmerfield-demo.msq", again});
  ASSERT_EQ(compiled.exitCode, 0) << compiled.err;
  EXPECT_EQ(fakes::ReadBytes(again), fakes::ReadBytes(cache));
}

// `glimmer demo --folder FILE` said only that it could not create a folder.
TEST(DemoCommand, AFolderThatIsAFileIsRefusedWithTheReason) {
  fakes::TempDir dir;
  const std::string file = dir.File("notes.txt");
  fakes::WriteBytes(file, "mine");
  const auto run =
      fakes::RunProgram({tools_test::GlimmerProgram(), "demo", "--silent", "--folder", file});
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_EQ(run.err, "glimmer demo: cannot create a folder for the demo files: " + file +
                         ": it is a file, not a folder\n");
  EXPECT_EQ(fakes::ReadBytes(file), "mine");
}

}  // namespace
