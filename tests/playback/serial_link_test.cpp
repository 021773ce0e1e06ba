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

class SerialLinkTest : public testing::Test, protected Rig {
 protected:
  playback::SerialLink link{port, window, ui, clock};
};

TEST_F(SerialLinkTest, OpenSendsEightBurstsEachFollowedByAYieldThenAKeepAlive) {
  window.dataRate = "56000";
  window.portNumber = 7;
  ASSERT_TRUE(link.OpenPort().ok());
  EXPECT_EQ(port.portNumber, 7);
  EXPECT_EQ(port.settings, "56000,N,8,1");
  EXPECT_TRUE(link.IsPortOpen());
  std::vector<std::string> trace;
  for (const auto& e : this->trace.events) {
    if (e.kind == Kind::Write) trace.push_back(ToHex(e.text));
    if (e.kind == Kind::Yield) trace.push_back("yield");
  }
  std::vector<std::string> expected;
  for (int i = 0; i < 8; ++i) expected.insert(expected.end(), {"00 FF 41 00", "yield"});
  expected.push_back("00 FF 81 00");
  EXPECT_EQ(trace, expected);
  EXPECT_EQ(window.gaps, std::vector<int>{0});
  link.ClosePort();
  EXPECT_FALSE(link.IsPortOpen());
}

// Whole seconds of the time of day, negative across midnight.
TEST_F(SerialLinkTest, KeepAliveShowsWholeSecondsSinceThePreviousOne) {
  clock.SetTimeOfDay(23, 59, 56);
  ASSERT_TRUE(link.OpenPort().ok());
  clock.Advance(2900);  // 23:59:58.9
  link.SendKeepAlive();
  clock.Advance(200);  // 23:59:59.1
  link.SendKeepAlive();
  clock.Advance(1000);  // 00:00:00.1
  link.SendKeepAlive();
  EXPECT_EQ(window.gaps, (std::vector<int>{0, 2, 1, -86399}));
  EXPECT_EQ(link.LastKeepAliveTime(), 0);
  EXPECT_EQ(port.writes.back(), Hex("00 FF 81 00"));
}

TEST_F(SerialLinkTest, OpenFailureNamesPortAndReasonAndWritesNothing) {
  port.openError = "Device or resource busy";
  const platform::Status opened = link.OpenPort();
  ASSERT_FALSE(opened.ok());
  EXPECT_NE(opened.message().find("COM3"), std::string::npos) << opened.message();
  EXPECT_NE(opened.message().find("Device or resource busy"), std::string::npos);
  EXPECT_TRUE(port.writes.empty());
  EXPECT_TRUE(window.gaps.empty());

  port.openError.clear();
  port.writeError = "Input/output error";  // the burst cannot be written
  EXPECT_FALSE(link.OpenPort().ok());
  EXPECT_FALSE(link.IsPortOpen());
  EXPECT_NE(window.Status().find("Input/output error"), std::string::npos);
}

TEST_F(SerialLinkTest, LostPortIsReportedOnceAndLaterWritesAreSkipped) {
  ASSERT_TRUE(link.OpenPort().ok());
  link.Write(Hex("00 01 33 05 01 00"));
  port.writeError = "Input/output error";
  link.Write(Hex("00 01 33 06 01 00"));

  EXPECT_FALSE(link.IsPortOpen());
  const std::string status = window.Status();
  EXPECT_NE(status.find("COM3"), std::string::npos) << status;
  EXPECT_NE(status.find("lost"), std::string::npos) << status;
  EXPECT_NE(status.find("Input/output error"), std::string::npos) << status;

  const auto writes = port.writes.size();
  const auto statuses = window.statusCount;
  const auto gaps = window.gaps.size();
  link.Write(Hex("00 01 33 07 01 00"));
  link.SendKeepAlive();
  EXPECT_EQ(port.writes.size(), writes);
  EXPECT_EQ(window.statusCount, statuses);
  EXPECT_EQ(window.gaps.size(), gaps);
}

TEST_F(SerialLinkTest, PortThatStaysOpenAfterAFailedWriteIsClosedToBeAnnouncedAgain) {
  // A port implementation that reports the failure but keeps its device.
  struct StubbornPort : fakes::FakeSerialPort {
    platform::Status Write(std::string_view bytes) override {
      if (fail) return platform::Status::Error("Resource temporarily unavailable");
      return FakeSerialPort::Write(bytes);
    }
    bool fail = false;
  } stubbornPort;
  playback::SerialLink stubborn{stubbornPort, window, ui, clock};
  ASSERT_TRUE(stubborn.OpenPort().ok());
  stubbornPort.fail = true;
  stubborn.SendKeepAlive();
  EXPECT_FALSE(stubborn.IsPortOpen());
  stubbornPort.fail = false;
  ASSERT_TRUE(stubborn.OpenPort().ok());
  EXPECT_EQ(stubbornPort.openCount, 2);
}

}  // namespace
