#include "platform/posix/serial_port_map.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "tests/fakes/temp_dir.h"

namespace {

namespace fs = std::filesystem;
using platform::DescribeSerialPort;
using platform::MapSerialPort;

TEST(SerialDeviceOrder, UsbAdaptersFirstThenBuiltinPortsWithHardwareByNumber) {
  const std::set<std::string> uarts = {"ttyS0", "ttyS10", "ttyS3"};
  const auto order = [&](const std::vector<std::string>& entries) {
    return platform::SerialDevicesInComOrder(
        entries, [&](const std::string& name) { return uarts.count(name) > 0; });
  };
  EXPECT_EQ(order({"ttyS1", "ttyUSB10", "console", "ttyUSB2", "ttyACM0", "ttyS0", "ttyS10",
                   "ttyUSBx", "tty", "tty1", "ttyS2", "ttyUSB", "null", "ttyACM1"}),
            (std::vector<std::string>{"/dev/ttyUSB2", "/dev/ttyUSB10", "/dev/ttyACM0",
                                      "/dev/ttyACM1", "/dev/ttyS0", "/dev/ttyS10"}));
  // Built-in ports without hardware behind them are placeholders, not counted.
  EXPECT_EQ(order({"ttyS1", "ttyS2"}), std::vector<std::string>{});
}

// The port numbers map onto devices the test lists, and onto links it puts in
// the program folder's dosdevices folder.
class SerialPortMapTest : public ::testing::Test {
 protected:
  void Pin(int n, const std::string& target) {
    fs::create_directories(dir.path() / "dosdevices");
    fs::create_symlink(target, dir.path() / "dosdevices" / ("com" + std::to_string(n)));
  }
  fakes::TempDir dir;
  const std::string appDir = dir.path().string();
  const std::vector<std::string> present = {"/dev/ttyUSB0", "/dev/ttyACM0", "/dev/ttyS0"};
};

TEST_F(SerialPortMapTest, PortNIsTheNthPresentDeviceUnlessADosdevicesLinkSaysOtherwise) {
  fakes::WriteBytes(dir.File("fake-tty"), "");
  Pin(1, appDir + "/fake-tty");
  Pin(5, appDir + "/fake-tty");
  Pin(6, appDir + "/unplugged");
  Pin(7, "../fake-tty");  // relative to the dosdevices folder
  const struct {
    int number;
    std::string device;       // "" when there is none
    std::string description;  // for the tooltip
  } cases[] = {
      {1, appDir + "/fake-tty", "COM1 = " + appDir + "/fake-tty (dosdevices/com1)"},
      {2, "/dev/ttyACM0", "COM2 = /dev/ttyACM0"},  // the listing still counts
      {3, "/dev/ttyS0", "COM3 = /dev/ttyS0"},
      {4, "", "COM4: no serial device"},
      {5, appDir + "/fake-tty", "COM5 = " + appDir + "/fake-tty (dosdevices/com5)"},
      {6, appDir + "/unplugged", "COM6 = " + appDir + "/unplugged (dosdevices/com6, missing)"},
      {7, appDir + "/dosdevices/../fake-tty",
       "COM7 = " + appDir + "/dosdevices/../fake-tty (dosdevices/com7)"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.number);
    const auto mapped = MapSerialPort(c.number, appDir, present);
    ASSERT_EQ(mapped.ok(), !c.device.empty()) << mapped.message();
    if (mapped.ok()) {
      EXPECT_EQ(mapped.value().device, c.device);
      EXPECT_EQ(mapped.value().pinned, c.number != 2 && c.number != 3);
    }
    EXPECT_EQ(DescribeSerialPort(c.number, appDir, present), c.description);
  }
}

TEST_F(SerialPortMapTest, UnmappedNumbersSayWhatWasFoundAndWhy) {
  const struct {
    int number;
    std::vector<std::string> devices;
    std::vector<std::string> said;
  } cases[] = {
      {4,
       present,
       {"COM4: no serial device", "/dev/ttyUSB0 /dev/ttyACM0 /dev/ttyS0", "dosdevices/com4"}},
      {1, {}, {"none found"}},
      {0, present, {"1 to 16"}},
      {17, present, {"1 to 16"}}};
  for (const auto& c : cases) {
    const auto mapped = MapSerialPort(c.number, appDir, c.devices);
    ASSERT_FALSE(mapped.ok()) << c.number;
    for (const std::string& text : c.said) {
      EXPECT_NE(mapped.message().find(text), std::string::npos) << mapped.message();
    }
  }
}

}  // namespace
