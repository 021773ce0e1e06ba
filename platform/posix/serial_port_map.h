#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/status.h"

// How COM port n (1 to 16) becomes a device, so that a USB adapter plugged into
// any machine works without editing anything, and an operator who needs a fixed
// assignment can pin one the way Wine does:
//
//   1. <application directory>/dosdevices/comN, when it exists (normally a
//      symbolic link to the device, e.g. com1 -> /dev/ttyS0);
//   2. otherwise the n-th serial device present, counting USB adapters first
//      (/dev/ttyUSB0, /dev/ttyUSB1, ..., then /dev/ttyACM0, ...), then the
//      built-in ports /dev/ttyS0, /dev/ttyS1, ... that have a UART behind them
//      (Linux creates ttyS nodes for ports that do not exist).
namespace platform {

inline constexpr int kFirstSerialPortNumber = 1;
inline constexpr int kLastSerialPortNumber = 16;

// Full device paths in COM order, from the entry names of /dev ("ttyUSB0",
// "ttyS3", anything else is ignored). `builtinHasHardware` answers for a ttyS
// name whether a UART is behind it.
std::vector<std::string> SerialDevicesInComOrder(
    const std::vector<std::string>& devEntries,
    const std::function<bool(const std::string& name)>& builtinHasHardware);

// The serial devices of this machine, in COM order.
std::vector<std::string> PresentSerialDevices();

struct SerialPortMapping {
  std::string device;   // the path to open
  bool pinned = false;  // true: from dosdevices/comN
};

// Port `number`'s device, given the devices present in COM order. An error says
// why there is none.
Result<SerialPortMapping> MapSerialPort(int number, const std::string& appDir,
                                        const std::vector<std::string>& present);
// The same on this machine.
Result<SerialPortMapping> MapSerialPort(int number, const std::string& appDir);

// One line for the port list's tooltip: "COM3 = /dev/ttyUSB0",
// "COM1 = /dev/ttyS0 (dosdevices/com1)" or "COM3: no serial device".
std::string DescribeSerialPort(int number, const std::string& appDir,
                               const std::vector<std::string>& present);
std::string DescribeSerialPort(int number, const std::string& appDir);

}  // namespace platform
