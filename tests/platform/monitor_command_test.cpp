#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "playback/wire_protocol.h"
#include "tests/fakes/pty_line.h"
#include "tests/fakes/run_program.h"

namespace {

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
