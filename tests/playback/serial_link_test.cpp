#include "playback/serial_link.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/playback/playback_rig.h"

namespace {

using playback_test::Hex;
using playback_test::Rig;
using playback_test::ToHex;
using Kind = playback_test::Trace::Kind;

class SerialLinkTest : public testing::Test {
 protected:
  Rig rig;
  playback::SerialLink link{rig.port, rig.window, rig.ui, rig.clock};
};

TEST_F(SerialLinkTest, OpenSendsEightBurstsEachFollowedByAYieldThenAKeepAlive) {
  for (const char* rate : {"115200", "56000"}) {
    rig.window.dataRate = rate;
    rig.window.portNumber = 7;
    rig.trace.events.clear();
    ASSERT_TRUE(link.OpenPort().ok());
    EXPECT_EQ(rig.port.portNumber, 7);
    EXPECT_EQ(rig.port.settings, std::string(rate) + ",N,8,1");
    EXPECT_TRUE(link.IsPortOpen());
    std::vector<std::string> trace;
    for (const auto& e : rig.trace.events) {
      if (e.kind == Kind::Write) trace.push_back(ToHex(e.text));
      if (e.kind == Kind::Yield) trace.push_back("yield");
    }
    std::vector<std::string> expected;
    for (int i = 0; i < 8; ++i) expected.insert(expected.end(), {"00 FF 41 00", "yield"});
    expected.push_back("00 FF 81 00");
    EXPECT_EQ(trace, expected);
    link.ClosePort();
    EXPECT_FALSE(link.IsPortOpen());
  }
  EXPECT_EQ(rig.window.gaps, (std::vector<int>{0, 0}));
}

// Whole seconds of the time of day, negative across midnight.
TEST_F(SerialLinkTest, KeepAliveShowsWholeSecondsSinceThePreviousOne) {
  rig.clock.SetTimeOfDay(23, 59, 56);
  ASSERT_TRUE(link.OpenPort().ok());
  rig.clock.Advance(2900);  // 23:59:58.9
  link.SendKeepAlive();
  rig.clock.Advance(200);  // 23:59:59.1
  link.SendKeepAlive();
  rig.clock.Advance(1000);  // 00:00:00.1
  link.SendKeepAlive();
  EXPECT_EQ(rig.window.gaps, (std::vector<int>{0, 2, 1, -86399}));
  EXPECT_EQ(link.LastKeepAliveTime(), 0);
  EXPECT_EQ(rig.port.writes.back(), Hex("00 FF 81 00"));
}

TEST_F(SerialLinkTest, OpenFailureNamesPortAndReasonAndWritesNothing) {
  rig.port.openError = "Device or resource busy";
  const platform::Status opened = link.OpenPort();
  ASSERT_FALSE(opened.ok());
  EXPECT_NE(opened.message().find("COM3"), std::string::npos) << opened.message();
  EXPECT_NE(opened.message().find("Device or resource busy"), std::string::npos);
  EXPECT_TRUE(rig.port.writes.empty());
  EXPECT_TRUE(rig.window.gaps.empty());

  rig.port.openError.clear();
  rig.port.writeError = "Input/output error";  // the burst cannot be written
  EXPECT_FALSE(link.OpenPort().ok());
  EXPECT_FALSE(link.IsPortOpen());
  EXPECT_NE(rig.window.Status().find("Input/output error"), std::string::npos);
}

TEST_F(SerialLinkTest, LostPortIsReportedOnceAndLaterWritesAreSkipped) {
  ASSERT_TRUE(link.OpenPort().ok());
  link.Write(Hex("00 01 33 05 01 00"));
  rig.port.writeError = "Input/output error";
  link.Write(Hex("00 01 33 06 01 00"));

  EXPECT_FALSE(link.IsPortOpen());
  const std::string status = rig.window.Status();
  EXPECT_NE(status.find("COM3"), std::string::npos) << status;
  EXPECT_NE(status.find("lost"), std::string::npos) << status;
  EXPECT_NE(status.find("Input/output error"), std::string::npos) << status;

  const auto writes = rig.port.writes.size();
  const auto statuses = rig.window.statusCount;
  const auto gaps = rig.window.gaps.size();
  link.Write(Hex("00 01 33 07 01 00"));
  link.SendKeepAlive();
  EXPECT_EQ(rig.port.writes.size(), writes);
  EXPECT_EQ(rig.window.statusCount, statuses);
  EXPECT_EQ(rig.window.gaps.size(), gaps);
}

TEST_F(SerialLinkTest, PortThatStaysOpenAfterAFailedWriteIsClosedToBeAnnouncedAgain) {
  // A port implementation that reports the failure but keeps its device.
  struct StubbornPort : fakes::FakeSerialPort {
    platform::Status Write(std::string_view bytes) override {
      if (fail) return platform::Status::Error("Resource temporarily unavailable");
      return FakeSerialPort::Write(bytes);
    }
    bool fail = false;
  } port;
  playback::SerialLink stubborn{port, rig.window, rig.ui, rig.clock};
  ASSERT_TRUE(stubborn.OpenPort().ok());
  port.fail = true;
  stubborn.SendKeepAlive();
  EXPECT_FALSE(stubborn.IsPortOpen());
  port.fail = false;
  ASSERT_TRUE(stubborn.OpenPort().ok());
  EXPECT_EQ(port.openCount, 2);
}

}  // namespace
