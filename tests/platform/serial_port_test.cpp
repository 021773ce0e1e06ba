#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <filesystem>
#include <set>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "platform/posix/serial_custom_baud.h"
#include "platform/posix/serial_port_map.h"
#include "platform/posix/termios_serial_port.h"
#include "platform/posix/unique_fd.h"
#include "tests/fakes/run_program.h"
#include "tests/fakes/temp_dir.h"

namespace {

namespace fs = std::filesystem;
using platform::DescribeSerialPort;
using platform::MapSerialPort;
using platform::TermiosSerialPort;
using platform::UniqueFd;
using namespace std::chrono_literals;

TermiosSerialPort PortOn(const std::string& device, std::chrono::milliseconds stall = 1000ms) {
  return TermiosSerialPort(
      {.applicationDirectory = {}, .devicePath = device, .stallTimeout = stall});
}

// A pseudo-terminal stands in for the controllers' line: the port opens the
// slave side by name, the test reads what arrives on the master side.
class SerialPortOnPty : public ::testing::Test {
 protected:
  void SetUp() override {
    int m = -1, s = -1;
    ASSERT_EQ(openpty(&m, &s, nullptr, nullptr, nullptr), 0);
    master.Reset(m);
    slave.Reset(s);
    slaveName = ttyname(s);
  }
  // Reads until `count` bytes have arrived or nothing has come for two seconds.
  std::string Read(std::size_t count) {
    std::string got;
    char buffer[65536];
    while (got.size() < count) {
      pollfd p{master.get(), POLLIN, 0};
      if (poll(&p, 1, 2000) <= 0) break;
      const ssize_t n = ::read(master.get(), buffer, sizeof buffer);
      if (n <= 0) break;
      got.append(buffer, static_cast<std::size_t>(n));
    }
    return got;
  }
  // Whether the terminal is in exclusive mode, as seen from the test's own
  // descriptor of it.
  bool Exclusive() const {
    int exclusive = -1;
    EXPECT_EQ(ioctl(slave.get(), TIOCGEXCL, &exclusive), 0);
    return exclusive != 0;
  }
  // Whether an ordinary user can open the line now: the exclusive mode only
  // stops users without CAP_SYS_ADMIN, so a test run as root tries from a
  // child that has given root up.
  bool OrdinaryUserCanOpen() const {
    if (geteuid() != 0) {
      UniqueFd fd(::open(slaveName.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK));
      return fd.valid();
    }
    if (chmod(slaveName.c_str(), 0666) != 0) return false;
    return fakes::RunInChild([this](std::string&) {
             if (setgid(65534) != 0 || setuid(65534) != 0) return 2;
             return ::open(slaveName.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK) >= 0 ? 0 : 1;
           }).exitCode == 0;
  }
  UniqueFd master, slave;
  std::string slaveName;
};

TEST(SerialSettings, RejectsOtherFramingAndQuotesTheText) {
  for (const char* text :
       {"", "115200", "115200,E,8,1", "115200,N,7,1", "115200,N,8,2", "fast,N,8,1", "-9600,N,8,1",
        "0,N,8,1", "115200,N,8,1,", " 115200,N,8,1", "99999999999,N,8,1"}) {
    auto parsed = platform::ParseSerialSettings(text);
    ASSERT_FALSE(parsed.ok()) << text;
    EXPECT_NE(parsed.message().find(std::string("\"") + text + "\""), std::string::npos)
        << parsed.message();
  }
}

// 56000 is not a classic rate: it takes termios2. The port is also found by
// its number through a link in the program folder's dosdevices, and opens
// again after a close.
TEST_F(SerialPortOnPty, OpensRaw8N1WithoutFlowControlAtTheRateAskedByDeviceOrPinnedNumber) {
  fakes::TempDir appDir;
  std::filesystem::create_directories(appDir.path() / "dosdevices");
  std::filesystem::create_symlink(slaveName, appDir.path() / "dosdevices" / "com7");
  for (const auto& [settings, speed, custom] :
       {std::tuple{"115200,N,8,1", 115200u, false}, std::tuple{"56000,N,8,1", 56000u, true}}) {
    SCOPED_TRACE(settings);
    TermiosSerialPort port({.applicationDirectory = appDir.path().string(),
                            .devicePath = custom ? std::string() : slaveName});
    port.SetPortNumber(7);
    port.SetSettings(settings);
    for (const std::string bytes : {"hi", "b"}) {
      const auto status = port.Open();
      ASSERT_TRUE(status.ok()) << status.message();
      EXPECT_TRUE(port.IsOpen());
      EXPECT_EQ(port.DevicePath(), slaveName);
      auto rate = platform::ReadBaudRate(slave.get());
      ASSERT_TRUE(rate.ok()) << rate.message();
      EXPECT_EQ(std::pair(rate.value().speed, rate.value().custom), std::pair(speed, custom));
      termios tio{};
      ASSERT_EQ(tcgetattr(slave.get(), &tio), 0);
      EXPECT_EQ(tio.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
      EXPECT_EQ(tio.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
      EXPECT_EQ(tio.c_iflag & (IXON | IXOFF | IXANY), 0u);
      EXPECT_EQ(tio.c_oflag & OPOST, 0u) << "bytes must not be translated";
      ASSERT_TRUE(port.Write(bytes).ok());
      EXPECT_EQ(Read(bytes.size()), bytes);
      port.Close();
      EXPECT_FALSE(port.IsOpen());
      EXPECT_FALSE(port.Write("a").ok());
    }
  }
}

TEST_F(SerialPortOnPty, OpenFailuresSayWhichPortAndWhy) {
  fakes::TempDir appDir;
  const std::string regularFile = appDir.File("not-a-tty");
  fakes::WriteBytes(regularFile, "");
  auto first = PortOn(slaveName);
  ASSERT_TRUE(first.Open().ok());
  const struct {
    std::string device, settings;  // no device: port 16 in an empty program folder
    std::vector<std::string> said;
  } cases[] = {{"/dev/ttyGlimmerNoSuchDevice", "", {"/dev/ttyGlimmerNoSuchDevice", "No such file"}},
               {regularFile, "", {"not a serial device"}},
               {slaveName, "", {"in use"}},
               {slaveName, "56000,E,7,2", {slaveName, "\"56000,E,7,2\""}},
               // Sixteen serial devices on a test machine would be remarkable.
               {"", "", {"COM16"}}};
  for (const auto& c : cases) {
    TermiosSerialPort port(
        {.applicationDirectory = appDir.path().string(), .devicePath = c.device});
    port.SetPortNumber(16);
    if (!c.settings.empty()) port.SetSettings(c.settings);
    const auto status = port.Open();
    ASSERT_FALSE(status.ok()) << c.device;
    for (const std::string& text : c.said) {
      EXPECT_NE(status.message().find(text), std::string::npos) << status.message();
    }
    EXPECT_FALSE(port.IsOpen());
  }
  EXPECT_TRUE(first.IsOpen());
}

TEST_F(SerialPortOnPty, EveryByteArrivesUnchangedAndInOrderAlsoPastTheDriverBuffer) {
  auto port = PortOn(slaveName);
  ASSERT_TRUE(port.Open().ok());
  // CR, LF, XON/XOFF and NUL bytes are exactly the ones a cooked line would eat.
  const std::string burst("\x00\xFF\x41\x00", 4);
  std::string big;
  for (std::size_t i = 0; i < (1u << 20); ++i) big.push_back(static_cast<char>((i * 7) ^ (i >> 8)));
  std::string received;
  std::thread reader([&] { received = Read(burst.size() + big.size()); });
  const platform::Status first = port.Write(burst), second = port.Write(big);
  reader.join();
  EXPECT_TRUE(first.ok() && second.ok()) << first.message() << second.message();
  EXPECT_EQ(received.size(), burst.size() + big.size());
  EXPECT_TRUE(received == burst + big) << "bytes lost, changed or reordered";
}

// Closing the port must not throw away what was written: a controller line
// that is slow to take the last batch (an "all off" at the end of a song),
// or a reader that only starts reading later, still gets every byte.
TEST_F(SerialPortOnPty, ReaderThatStartsAfterTheCloseStillGetsEveryByte) {
  auto port = PortOn(slaveName);
  ASSERT_TRUE(port.Open().ok());
  std::string written;
  for (int i = 0; i < 8; ++i) written += std::string("\x00\xFF\x41\x00", 4);
  written += std::string("\x00\xFF\x81\x00", 4);
  for (int i = 0; i < 300; ++i) written += std::string("\x00\x01\x33", 3) + char(i) + "\x01" + '\0';
  for (std::size_t at = 0; at < written.size(); at += 4) {
    ASSERT_TRUE(port.Write(written.substr(at, 4)).ok());
  }
  port.Close();
  EXPECT_FALSE(port.IsOpen());
  const std::string received = Read(written.size());
  EXPECT_EQ(received.size(), written.size());
  EXPECT_TRUE(received == written) << "bytes lost at the close";
}

TEST_F(SerialPortOnPty, OtherSideGoneClosesThePortAndSaysSo) {
  auto port = PortOn(slaveName);
  ASSERT_TRUE(port.Open().ok());
  ASSERT_TRUE(port.Write(std::string("\x00\xFF\x81\x00", 4)).ok());
  master.Reset();

  const auto status = port.Write(std::string("\x00\x03\x33\x80\x01\x00", 6));
  ASSERT_FALSE(status.ok());
  EXPECT_EQ(status.message(), "serial port " + slaveName + " lost: Input/output error");
  EXPECT_FALSE(port.IsOpen());

  const auto again = port.Write("x");
  EXPECT_FALSE(again.ok());
  EXPECT_NE(again.message().find("not open"), std::string::npos) << again.message();
}

// The line is the player's alone while open, and everybody's again after a
// close, whether the player closed it or a write the reader never took ended
// with an error.
TEST_F(SerialPortOnPty, SecondOpenerGetsTheLineAfterClose) {
  auto port = PortOn(slaveName, 200ms);
  for (const bool closedByFailure : {false, true}) {
    SCOPED_TRACE(closedByFailure ? "closed by a stalled write" : "closed by the player");
    ASSERT_TRUE(port.Open().ok());
    EXPECT_TRUE(Exclusive());
    EXPECT_FALSE(OrdinaryUserCanOpen());
    if (closedByFailure) {
      // A pty buffers well under a few megabytes; the bound keeps a broken
      // port from looping forever.
      platform::Status status = platform::Status::Ok();
      for (int i = 0; i < 4096 && status.ok(); ++i) status = port.Write(std::string(4096, 'x'));
      ASSERT_FALSE(status.ok()) << "the pty never filled up";
      EXPECT_EQ(status.message(), "serial port " + slaveName + " stopped taking data");
    } else {
      port.Close();
    }
    ASSERT_FALSE(port.IsOpen());
    EXPECT_FALSE(Exclusive());
    EXPECT_TRUE(OrdinaryUserCanOpen());
    auto next = PortOn(slaveName);
    const auto opened = next.Open();
    EXPECT_TRUE(opened.ok()) << opened.message();
  }
}

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
