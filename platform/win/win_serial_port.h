#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/serial_port.h"
#include "platform/status.h"
#include "platform/win/wide_text.h"
#include "platform/win/win_handle.h"
#include "platform/win/win_registry.h"

namespace platform::win {

// The device name CreateFileW opens for COM port `number`: "\\.\COM12". The
// prefix is needed from COM10 on and harmless below.
std::wstring ComDevicePath(int number);

// "COM3" from "COM3", "com3" or "\\.\COM3"; 0 for anything else.
int ComNumberOf(std::string_view name);

// The serial port on a Windows COM port, in 8N1 with no flow control.
//
// Writes are overlapped and bounded: the driver gives up on a write the line
// has not taken within the stall timeout (plus the time the bytes need at the
// line's rate), and a write that still has not come back is cancelled. A port
// that fails or stalls is closed and the write says why; Open may be called
// again later (an adapter plugged back in).
class WinSerialPort final : public SerialPort {
 public:
  struct Options {
    // When set ("COM3"), this port is used whatever the port number.
    std::string devicePath;
    std::chrono::milliseconds stallTimeout{1000};
    // The COM ports present; the system's list when empty.
    std::function<std::vector<ListedSerialPort>()> listedPorts = {};
  };

  explicit WinSerialPort(Options options);
  ~WinSerialPort() override;
  WinSerialPort(const WinSerialPort&) = delete;
  WinSerialPort& operator=(const WinSerialPort&) = delete;

  void SetPortNumber(int number) override { portNumber_ = number; }
  void SetSettings(const std::string& settings) override { settings_ = settings; }

  // An error names the port and the system's reason ("COM3: Access is
  // denied. (error 5) (in use by another program)").
  Status Open() override;
  bool IsOpen() const override { return static_cast<bool>(handle_); }
  void Close() override;
  Status Write(std::string_view bytes) override;

  // The port the last Open used or tried: "COM3".
  const std::string& PortName() const { return name_; }
  // The rate the open port runs at, as the driver reports it; 0 when closed.
  int ActualBaudRate() const;

 private:
  Status Fail(const std::string& message);
  // Waits while the driver's queue still goes down; false once it has not
  // moved for the stall timeout.
  bool Drain();

  Options options_;
  int portNumber_ = 1;
  int baud_ = 0;
  std::string settings_ = "115200,N,8,1";
  std::string name_;
  UniqueHandle handle_;
  UniqueHandle claim_;  // the port's name, held while open
};

// One line for the port list's tooltip: "COM3 = \Device\Serial0" or
// "COM3: no serial device".
std::string DescribeComPort(int number, const std::vector<ListedSerialPort>& listed);

// Whether the system lists COM port `portNumber` (or the port `devicePath`
// names) now: an adapter that was pulled out is gone from the list.
Status ComPortPresent(int portNumber, const std::string& devicePath,
                      const std::vector<ListedSerialPort>& listed);

}  // namespace platform::win
