#pragma once

#include <string>
#include <string_view>

#include "platform/status.h"

namespace platform {

// The one serial line to the controllers. Write-only.
// Lifecycle: set the port number and line settings, Open, Write any number of
// times, Close. Close releases everything; Open may be called again after it.
// A write that fails (device gone, device stuck for more than about a second)
// closes the port and reports why; IsOpen() is then false.
class SerialPort {
 public:
  virtual ~SerialPort() = default;

  // Port number n (1 to 16), the n-th serial port of the machine.
  virtual void SetPortNumber(int number) = 0;
  // Line settings text such as "115200,N,8,1".
  virtual void SetSettings(const std::string& settings) = 0;

  virtual Status Open() = 0;
  virtual bool IsOpen() const = 0;
  virtual void Close() = 0;
  // Writes all bytes, in order, as one write.
  virtual Status Write(std::string_view bytes) = 0;
};

// The line settings text for `baud` in the one framing the controllers speak:
// no parity, 8 data bits, 1 stop bit ("115200,N,8,1").
inline std::string LineSettingsText(int baud) {
  return std::to_string(baud) + ",N,8,1";
}

}  // namespace platform
