#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/posix/unique_fd.h"
#include "platform/serial_port.h"
#include "platform/serial_settings.h"
#include "platform/status.h"

namespace platform {

// Puts the open terminal `fd` into raw 8N1 at `baud`: no flow control of any
// kind, no character translation, reads return at once. Classic rates go
// through cfsetospeed, others (56000) through termios2.
Status ConfigureSerialLine(int fd, int baud);

// The serial port on a POSIX terminal device.
//
// Writes never block the show for long: the device is non-blocking and a write
// waits in poll() for room, giving up when the device has taken nothing for
// `stallTimeout`. A device that fails or stalls is closed and the write says
// why; Open may be called again later (an adapter plugged back in).
class TermiosSerialPort final : public SerialPort {
 public:
  struct Options {
    // Where dosdevices/comN links are looked for (the program's directory).
    std::string applicationDirectory;
    // When set, this device is used whatever the port number.
    std::string devicePath;
    std::chrono::milliseconds stallTimeout{1000};
    // The serial devices present, in COM order; this machine's when empty.
    std::function<std::vector<std::string>()> presentDevices = {};
  };

  explicit TermiosSerialPort(Options options);
  ~TermiosSerialPort() override;
  TermiosSerialPort(const TermiosSerialPort&) = delete;
  TermiosSerialPort& operator=(const TermiosSerialPort&) = delete;

  void SetPortNumber(int number) override;
  void SetSettings(const std::string& settings) override { settings_ = settings; }

  // An error names the device and the system's reason ("/dev/ttyUSB0:
  // Permission denied ..."), or says why port n has no device.
  Status Open() override;
  bool IsOpen() const override { return fd_.valid(); }
  void Close() override;
  Status Write(std::string_view bytes) override;

  // The device the last Open used or tried.
  const std::string& DevicePath() const { return device_; }

 private:
  Status Fail(const std::string& message);
  // Waits until the bytes queued in the driver have reached the line, as
  // long as the line keeps taking them; false once it took nothing for
  // stallTimeout.
  bool Drain();
  // Gives the line back to other openers and closes it.
  void Release();

  Options options_;
  int portNumber_ = 1;
  std::string settings_ = "115200,N,8,1";
  std::string device_;
  // The device port `lostPortNumber_` was writing to when it failed. COM
  // numbers count the devices present, so when one goes away the next device
  // in line takes its number: that device is not the controllers' line and is
  // never opened in its place. Cleared when the lost device opens again or
  // another port number is chosen.
  std::string lostDevice_;
  int lostPortNumber_ = 0;
  UniqueFd fd_;
};

}  // namespace platform
