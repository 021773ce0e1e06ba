#include "watch/device_wait.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "platform/posix/device_presence.h"
#include "tests/fakes/fake_time_source.h"
#include "tests/fakes/pty_line.h"
#include "tests/fakes/temp_dir.h"

namespace {

using namespace std::chrono_literals;

class DeviceWaitTest : public ::testing::Test {
 protected:
  watch::DeviceWaitHooks Hooks() {
    return {.pause =
                [this] {
                  ++pauses;
                  time.Advance(1s);
                  if (onPause) onPause(pauses);
                },
            .say = [this](const std::string& text) { said.push_back(text); },
            .onStep = {},
            .cancelled = {}};
  }

  fakes::TempDir dir;
  fakes::FakeTimeSource time;
  int pauses = 0;
  std::function<void(int)> onPause;
  std::vector<std::string> said;
};

// COM1 is pinned through dosdevices/com1 to a stable by-id name, as an
// operator does; the adapter (a pseudo-terminal here) shows up 20 s after the
// show started.
TEST_F(DeviceWaitTest, AnAdapterThatAppearsLateIsFollowedThroughItsLinks) {
  fakes::PtyLine adapter;
  std::filesystem::create_directories(dir.path() / "dosdevices");
  std::filesystem::create_directories(dir.path() / "serial/by-id");
  const auto byId = dir.path() / "serial/by-id/usb-FTDI_FT232R-if00-port0";
  std::filesystem::create_symlink(byId, dir.path() / "dosdevices/com1");
  onPause = [&](int n) {
    if (n == 20) std::filesystem::create_symlink(adapter.Name(), byId);
  };
  const std::vector<watch::DeviceNeed> needs = {
      {"the serial adapter (COM1)",
       [&] { return platform::SerialDevicePresent(1, dir.path().string(), ""); }},
      {"a sound device", [] { return platform::Status::Ok(); }},
  };
  const platform::Status waited = watch::WaitForDevices(needs, 120s, time, Hooks());
  EXPECT_TRUE(waited.ok()) << waited.message();
  EXPECT_EQ(pauses, 20);
  ASSERT_EQ(said.size(), 2u);
  EXPECT_EQ(said[0].rfind("Waiting up to 120 seconds for the serial adapter (COM1): COM1 = " +
                              byId.string() + ": No such file or directory",
                          0),
            0u)
      << said[0];
  EXPECT_EQ(said[1], "Found the serial adapter (COM1)");
}

TEST_F(DeviceWaitTest, DevicesThatAreThereCostNoWaitAndALimitOfZeroNone) {
  EXPECT_TRUE(
      watch::WaitForDevices({{"x", [] { return platform::Status::Ok(); }}}, 120s, time, Hooks())
          .ok());
  EXPECT_FALSE(watch::WaitForDevices({{"x", [] { return platform::Status::Error("gone"); }}}, 0s,
                                     time, Hooks())
                   .ok());
  EXPECT_EQ(pauses, 0);
}

}  // namespace
