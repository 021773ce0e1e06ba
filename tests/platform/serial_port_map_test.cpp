#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/posix/serial_port_map.h"

namespace {

namespace fs = std::filesystem;
using platform::DescribeSerialPort;
using platform::MapSerialPort;
using platform::SerialDevicesInComOrder;

std::vector<std::string> Order(const std::vector<std::string>& entries,
                               const std::set<std::string>& uarts) {
  return SerialDevicesInComOrder(entries,
                                 [&](const std::string& name) { return uarts.count(name) > 0; });
}

TEST(SerialDeviceOrder, UsbAdaptersFirstThenBuiltinPortsWithHardwareByNumber) {
  const std::vector<std::string> dev = {"ttyS1", "ttyUSB10", "console", "ttyUSB2", "ttyACM0",
                                        "ttyS0", "ttyS10",   "ttyUSBx", "tty",     "tty1",
                                        "ttyS2", "ttyUSB",   "null",    "ttyACM1"};
  EXPECT_EQ(Order(dev, {"ttyS0", "ttyS10"}),
            (std::vector<std::string>{"/dev/ttyUSB2", "/dev/ttyUSB10", "/dev/ttyACM0",
                                      "/dev/ttyACM1", "/dev/ttyS0", "/dev/ttyS10"}));
}

TEST(SerialDeviceOrder, PlaceholderBuiltinPortsAreNotCounted) {
  EXPECT_EQ(Order({"ttyS0", "ttyS1", "ttyS2", "ttyS3"}, {}), std::vector<std::string>{});
  EXPECT_EQ(Order({"ttyS3", "ttyS1"}, {"ttyS3"}), std::vector<std::string>{"/dev/ttyS3"});
}

class SerialPortMapTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char dir[] = "/tmp/glimmer-map-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    appDir = dir;
  }
  void TearDown() override { fs::remove_all(appDir); }
  void Pin(int n, const std::string& target) {
    fs::create_directories(fs::path(appDir) / "dosdevices");
    fs::create_symlink(target, fs::path(appDir) / "dosdevices" / ("com" + std::to_string(n)));
  }
  std::string appDir;
  const std::vector<std::string> present = {"/dev/ttyUSB0", "/dev/ttyACM0", "/dev/ttyS0"};
};

TEST_F(SerialPortMapTest, PortNIsTheNthPresentDevice) {
  EXPECT_EQ(MapSerialPort(1, appDir, present).value().device, "/dev/ttyUSB0");
  EXPECT_EQ(MapSerialPort(3, appDir, present).value().device, "/dev/ttyS0");
  EXPECT_FALSE(MapSerialPort(3, appDir, present).value().pinned);
}

TEST_F(SerialPortMapTest, PortBeyondThePresentDevicesSaysWhatWasFound) {
  auto mapped = MapSerialPort(4, appDir, present);
  ASSERT_FALSE(mapped.ok());
  EXPECT_NE(mapped.message().find("COM4: no serial device"), std::string::npos);
  EXPECT_NE(mapped.message().find("/dev/ttyUSB0 /dev/ttyACM0 /dev/ttyS0"), std::string::npos)
      << mapped.message();
  EXPECT_NE(mapped.message().find("dosdevices/com4"), std::string::npos) << mapped.message();

  auto none = MapSerialPort(1, appDir, {});
  ASSERT_FALSE(none.ok());
  EXPECT_NE(none.message().find("none found"), std::string::npos) << none.message();
}

TEST_F(SerialPortMapTest, NumbersOutsideOneToSixteenAreRejected) {
  EXPECT_FALSE(MapSerialPort(0, appDir, present).ok());
  EXPECT_FALSE(MapSerialPort(17, appDir, present).ok());
  EXPECT_NE(MapSerialPort(17, appDir, present).message().find("1 to 16"), std::string::npos);
}

TEST_F(SerialPortMapTest, DosdevicesLinkWinsOverTheListing) {
  Pin(1, "/dev/ttyS5");
  auto mapped = MapSerialPort(1, appDir, present);
  ASSERT_TRUE(mapped.ok());
  EXPECT_EQ(mapped.value().device, "/dev/ttyS5");
  EXPECT_TRUE(mapped.value().pinned);
  // Other numbers still count the listing.
  EXPECT_EQ(MapSerialPort(2, appDir, present).value().device, "/dev/ttyACM0");
  // A link gives a port beyond the present devices, too.
  Pin(9, "/dev/ttyUSB3");
  EXPECT_EQ(MapSerialPort(9, appDir, present).value().device, "/dev/ttyUSB3");
}

TEST_F(SerialPortMapTest, RelativeLinkIsResolvedFromTheDosdevicesFolder) {
  std::ofstream(fs::path(appDir) / "fake-tty") << "";
  Pin(2, "../fake-tty");
  EXPECT_EQ(MapSerialPort(2, appDir, present).value().device, appDir + "/dosdevices/../fake-tty");
}

TEST_F(SerialPortMapTest, DescriptionsForTheTooltip) {
  EXPECT_EQ(DescribeSerialPort(1, appDir, present), "COM1 = /dev/ttyUSB0");
  EXPECT_EQ(DescribeSerialPort(3, appDir, present), "COM3 = /dev/ttyS0");
  EXPECT_EQ(DescribeSerialPort(4, appDir, present), "COM4: no serial device");

  std::ofstream(fs::path(appDir) / "fake-tty") << "";
  Pin(5, appDir + "/fake-tty");
  EXPECT_EQ(DescribeSerialPort(5, appDir, present),
            "COM5 = " + appDir + "/fake-tty (dosdevices/com5)");
  Pin(6, appDir + "/unplugged");
  EXPECT_EQ(DescribeSerialPort(6, appDir, present),
            "COM6 = " + appDir + "/unplugged (dosdevices/com6, missing)");
}

}  // namespace
