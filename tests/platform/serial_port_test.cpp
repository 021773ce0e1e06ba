#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "platform/posix/serial_custom_baud.h"
#include "platform/posix/termios_serial_port.h"
#include "platform/posix/unique_fd.h"

namespace {

using platform::TermiosSerialPort;
using platform::UniqueFd;
using namespace std::chrono_literals;

// A pseudo-terminal standing in for the controllers' line: the port opens the
// slave side by name, the test reads what arrives on the master side.
class PtyLine {
 public:
  PtyLine() {
    int master = -1, slave = -1;
    if (openpty(&master, &slave, nullptr, nullptr, nullptr) != 0) return;
    master_.Reset(master);
    slave_.Reset(slave);
    slaveName_ = ttyname(slave);
  }
  bool ok() const { return master_.valid(); }
  const std::string& slaveName() const { return slaveName_; }
  int slaveFd() const { return slave_.get(); }
  int masterFd() const { return master_.get(); }
  void CloseMaster() { master_.Reset(); }

  // Reads until `count` bytes have arrived or nothing has come for two seconds.
  std::string Read(std::size_t count) {
    std::string got;
    char buffer[65536];
    while (got.size() < count) {
      pollfd p{master_.get(), POLLIN, 0};
      if (poll(&p, 1, 2000) <= 0) break;
      const ssize_t n = ::read(master_.get(), buffer, sizeof buffer);
      if (n <= 0) break;
      got.append(buffer, static_cast<std::size_t>(n));
    }
    return got;
  }

 private:
  UniqueFd master_, slave_;
  std::string slaveName_;
};

TermiosSerialPort PortOn(const std::string& device, std::chrono::milliseconds stall = 1000ms) {
  return TermiosSerialPort(
      {.applicationDirectory = "", .devicePath = device, .stallTimeout = stall});
}

class SerialPortOnPty : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(line.ok()) << "openpty failed"; }
  PtyLine line;
};

// ---- line settings text ----

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

// ---- opening ----

TEST_F(SerialPortOnPty, OpensRaw8N1WithoutFlowControlAt115200) {
  auto port = PortOn(line.slaveName());
  port.SetSettings("115200,N,8,1");
  ASSERT_TRUE(port.Open().ok());
  EXPECT_TRUE(port.IsOpen());

  termios tio{};
  ASSERT_EQ(tcgetattr(line.slaveFd(), &tio), 0);
  EXPECT_EQ(cfgetospeed(&tio), static_cast<speed_t>(B115200));
  EXPECT_EQ(tio.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
  EXPECT_EQ(tio.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
  EXPECT_EQ(tio.c_iflag & (IXON | IXOFF | IXANY), 0u);
  EXPECT_EQ(tio.c_oflag & OPOST, 0u) << "bytes must not be translated";
}

TEST_F(SerialPortOnPty, Sets56000ThroughTermios2) {
  auto port = PortOn(line.slaveName());
  port.SetSettings("56000,N,8,1");
  ASSERT_TRUE(port.Open().ok());

  auto rate = platform::ReadBaudRate(line.slaveFd());
  ASSERT_TRUE(rate.ok()) << rate.message();
  EXPECT_TRUE(rate.value().custom);
  EXPECT_EQ(rate.value().speed, 56000u);
}

TEST_F(SerialPortOnPty, BadSettingsDoNotOpen) {
  auto port = PortOn(line.slaveName());
  port.SetSettings("56000,E,7,2");
  const auto status = port.Open();
  EXPECT_FALSE(status.ok());
  EXPECT_NE(status.message().find(line.slaveName()), std::string::npos) << status.message();
  EXPECT_NE(status.message().find("\"56000,E,7,2\""), std::string::npos) << status.message();
  EXPECT_FALSE(port.IsOpen());
}

TEST(SerialPortOpen, MissingDeviceNamesDeviceAndReason) {
  auto port = PortOn("/dev/ttyGlimmerNoSuchDevice");
  const auto status = port.Open();
  ASSERT_FALSE(status.ok());
  EXPECT_NE(status.message().find("/dev/ttyGlimmerNoSuchDevice"), std::string::npos);
  EXPECT_NE(status.message().find("No such file or directory"), std::string::npos)
      << status.message();
  EXPECT_FALSE(port.IsOpen());
}

TEST(SerialPortOpen, RegularFileIsNotASerialDevice) {
  char path[] = "/tmp/glimmer-not-a-tty-XXXXXX";
  UniqueFd fd(mkstemp(path));
  ASSERT_TRUE(fd.valid());
  auto port = PortOn(path);
  const auto status = port.Open();
  unlink(path);
  ASSERT_FALSE(status.ok());
  EXPECT_NE(status.message().find("not a serial device"), std::string::npos) << status.message();
}

TEST_F(SerialPortOnPty, SecondOpenerIsToldThePortIsInUse) {
  auto first = PortOn(line.slaveName());
  ASSERT_TRUE(first.Open().ok());
  auto second = PortOn(line.slaveName());
  const auto status = second.Open();
  ASSERT_FALSE(status.ok());
  EXPECT_NE(status.message().find("in use"), std::string::npos) << status.message();
  EXPECT_TRUE(first.IsOpen());
}

// ---- writing ----

TEST_F(SerialPortOnPty, EveryByteValueArrivesUnchangedAndInOrder) {
  auto port = PortOn(line.slaveName());
  ASSERT_TRUE(port.Open().ok());
  std::string all;
  for (int i = 0; i < 256; ++i) all.push_back(static_cast<char>(i));
  // CR, LF, XON/XOFF and NUL bytes are exactly the ones a cooked line would eat.
  const std::string burst("\x00\xFF\x41\x00", 4);
  ASSERT_TRUE(port.Write(burst).ok());
  ASSERT_TRUE(port.Write(all).ok());
  EXPECT_EQ(line.Read(burst.size() + all.size()), burst + all);
}

TEST_F(SerialPortOnPty, WriteLargerThanTheDriverBufferCompletes) {
  auto port = PortOn(line.slaveName());
  ASSERT_TRUE(port.Open().ok());
  std::string big(1 << 20, '\0');
  for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>((i * 7) ^ (i >> 8));

  std::string received;
  std::thread reader([&] { received = line.Read(big.size()); });
  const auto status = port.Write(big);
  reader.join();
  EXPECT_TRUE(status.ok()) << status.message();
  EXPECT_EQ(received.size(), big.size());
  EXPECT_TRUE(received == big) << "bytes lost or reordered in a partial write";
}

TEST_F(SerialPortOnPty, OtherSideGoneClosesThePortAndSaysSo) {
  auto port = PortOn(line.slaveName());
  ASSERT_TRUE(port.Open().ok());
  ASSERT_TRUE(port.Write(std::string("\x00\xFF\x81\x00", 4)).ok());
  line.CloseMaster();

  const auto status = port.Write(std::string("\x00\x03\x33\x80\x01\x00", 6));
  ASSERT_FALSE(status.ok());
  EXPECT_EQ(status.message(), "serial port " + line.slaveName() + " lost: Input/output error");
  EXPECT_FALSE(port.IsOpen());

  const auto again = port.Write("x");
  EXPECT_FALSE(again.ok());
  EXPECT_NE(again.message().find("not open"), std::string::npos) << again.message();
}

TEST_F(SerialPortOnPty, ReaderThatNeverReadsEndsTheWriteWithAnError) {
  auto port = PortOn(line.slaveName(), 200ms);
  ASSERT_TRUE(port.Open().ok());
  const std::string chunk(4096, '\x55');
  platform::Status status = platform::Status::Ok();
  // A pty buffers well under a few megabytes; the bound keeps a broken port
  // from looping forever.
  for (int i = 0; i < 4096 && status.ok(); ++i) status = port.Write(chunk);
  ASSERT_FALSE(status.ok()) << "the pty never filled up";
  EXPECT_EQ(status.message(), "serial port " + line.slaveName() + " stopped taking data");
  EXPECT_FALSE(port.IsOpen());
}

TEST_F(SerialPortOnPty, ReopensAfterClose) {
  auto port = PortOn(line.slaveName());
  ASSERT_TRUE(port.Open().ok());
  port.Close();
  EXPECT_FALSE(port.IsOpen());
  EXPECT_FALSE(port.Write("a").ok());
  ASSERT_TRUE(port.Open().ok());
  ASSERT_TRUE(port.Write("b").ok());
  EXPECT_EQ(line.Read(1), "b");
}

TEST_F(SerialPortOnPty, PortNumberReachesDevicePinnedInDosdevices) {
  namespace fs = std::filesystem;
  char dir[] = "/tmp/glimmer-app-XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  fs::create_directories(fs::path(dir) / "dosdevices");
  fs::create_symlink(line.slaveName(), fs::path(dir) / "dosdevices" / "com7");

  TermiosSerialPort port({.applicationDirectory = dir, .devicePath = "", .stallTimeout = 1000ms});
  port.SetPortNumber(7);
  port.SetSettings("56000,N,8,1");
  const auto status = port.Open();
  fs::remove_all(dir);
  ASSERT_TRUE(status.ok()) << status.message();
  EXPECT_EQ(port.DevicePath(), line.slaveName());
  ASSERT_TRUE(port.Write("hi").ok());
  EXPECT_EQ(line.Read(2), "hi");
}

TEST(SerialPortOpen, UnmappedPortNumberNamesThePort) {
  char dir[] = "/tmp/glimmer-app-XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  TermiosSerialPort port({.applicationDirectory = dir, .devicePath = "", .stallTimeout = 1000ms});
  port.SetPortNumber(16);
  const auto status = port.Open();
  std::filesystem::remove_all(dir);
  // Sixteen serial devices on a test machine would be remarkable.
  ASSERT_FALSE(status.ok());
  EXPECT_NE(status.message().find("COM16"), std::string::npos) << status.message();
}

}  // namespace
