#include "playback/serial_link.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "tests/playback/playback_rig.h"

namespace {

using playback_test::Contains;
using playback_test::Hex;
using playback_test::ToHex;
using Kind = playback_test::Trace::Kind;

struct SerialLinkTest : testing::Test, playback_test::Rig {
  playback::SerialLink& link = session.Link();
};

// Gaps are whole-second ticks of the monotonic clock: midnight, a
// daylight-saving change or a clock set by hand do not make an hour's gap or
// a negative one.
TEST_F(SerialLinkTest, OpenSendsEightBurstsEachFollowedByAYieldThenKeepAlivesShowTheirGaps) {
  window.baud = 56000;
  window.portNumber = 7;
  clock.SetTimeOfDay(23, 59, 56);
  ASSERT_TRUE(link.OpenPort().ok());
  EXPECT_EQ(port.portNumber, 7);
  EXPECT_EQ(port.settings, "56000,N,8,1");
  std::string events, expected;
  for (const auto& e : trace.events)
    events += e.kind == Kind::Yield ? "yield|" : ToHex(e.text) + "|";
  for (int i = 0; i < 8; ++i) expected += "00 FF 41 00|yield|";
  EXPECT_EQ(events, expected + "00 FF 81 00|");

  // To 23:59:58.9, 23:59:59.1 and 00:00:00.1; then daylight saving ends... or
  // begins, and the other way.
  const std::pair<long long, long long> steps[] = {
      {2900, 0}, {200, 0}, {1000, 0}, {430, 3600 * 1000}, {430, -7200 * 1000}};
  for (const auto& [advanceMs, wallShiftMs] : steps) {
    clock.wallOffsetMs += wallShiftMs;
    clock.Advance(advanceMs);
    link.SendKeepAlive();
  }
  EXPECT_EQ(window.gaps, (std::vector<int>{0, 2, 1, 1, 0, 0}));
  // The one late keep-alive is the 2 s gap (late is more than a second); no
  // hour-long one. The view and the log hear the same verdict.
  EXPECT_EQ(window.lateGaps, 1);
  EXPECT_EQ(window.LoggedWith("Late keep-alive"),
            std::vector<std::string>{"Late keep-alive: 2 seconds since the one before"});
}

// Also a port that reports the failure but keeps its device is closed, so
// the next open announces it afresh.
TEST_F(SerialLinkTest, LostPortIsClosedAndReportedOnceAndLaterWritesAreSkipped) {
  struct StubbornPort : fakes::FakeSerialPort {
    platform::Status Write(std::string_view bytes) override {
      if (fail) return platform::Status::Error("Input/output error");
      return FakeSerialPort::Write(bytes);
    }
    bool fail = false;
  } stubborn;
  const auto session = playback_test::MakeSession(window, stubborn, audio, ui, clock, log);
  playback::SerialLink& link = session->Link();
  ASSERT_TRUE(link.OpenPort().ok());
  stubborn.fail = true;
  link.Write(Hex("00 01 33 06 01 00"));
  EXPECT_FALSE(link.IsPortOpen());
  EXPECT_TRUE(Contains(window.Notice(), "COM3 lost: Input/output error"));
  EXPECT_TRUE(window.statuses.empty()) << "the status line keeps its own texts";

  const auto notices = window.notices.size();
  const auto gaps = window.gaps.size();
  link.Write(Hex("00 01 33 07 01 00"));
  link.SendKeepAlive();
  EXPECT_EQ(window.notices.size(), notices);
  EXPECT_EQ(window.gaps.size(), gaps);

  stubborn.fail = false;
  ASSERT_TRUE(link.OpenPort().ok());
  EXPECT_EQ(stubborn.openCount, 2);
  // The "lost" notice must not outlive the line it talks about.
  EXPECT_EQ(window.Notice(), "Serial port COM3 back: the lights follow the show again");
  EXPECT_EQ(window.logged,
            (std::vector<std::string>{"Port COM3 opened", "Port COM3 lost: Input/output error",
                                      "Port COM3 back"}));

  // Back only once: the next open after a plain close is an ordinary one.
  link.ClosePort();
  ASSERT_TRUE(link.OpenPort().ok());
  EXPECT_EQ(window.logged.back(), "Port COM3 opened");
}

// A line given by its device path is named by it in every message, not by a
// COM number it was never chosen by.
TEST_F(SerialLinkTest, NamedLineIsCalledByItsDevicePath) {
  link.NameLine("/dev/ttyACM0");
  port.openError = "Permission denied";
  EXPECT_EQ(link.OpenPort().message(),
            "Serial port /dev/ttyACM0 could not be opened: Permission denied");
  port.openError.clear();
  ASSERT_TRUE(link.OpenPort().ok());
  port.writeError = "Input/output error";
  link.SendKeepAlive();
  EXPECT_TRUE(Contains(window.Notice(), "Serial port /dev/ttyACM0 lost"));
  EXPECT_FALSE(Contains(window.Notice(), "COM"));
  EXPECT_EQ(window.logged.back(), "Port /dev/ttyACM0 lost: Input/output error");
  // A port that opens but cannot take the burst is not open.
  EXPECT_FALSE(link.OpenPort().ok());
  EXPECT_FALSE(link.IsPortOpen());
}

}  // namespace
