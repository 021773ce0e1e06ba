// The factories of platform/system.h for the serial port, the clock, the
// dispatch's priority and the programs the show starts.
#include "platform/system.h"
#include "platform/win/win_process.h"
#include "platform/win/win_registry.h"
#include "platform/win/win_serial_port.h"
#include "platform/win/win_timing.h"

namespace platform {

std::unique_ptr<SerialPort> MakeSerialPort(const SerialPortOptions& options) {
  return std::make_unique<win::WinSerialPort>(win::WinSerialPort::Options{
      .devicePath = options.devicePath, .stallTimeout = options.stallTimeout});
}

Status SerialDevicePresent(int portNumber, const std::string&, const std::string& devicePath) {
  return win::ComPortPresent(portNumber, devicePath, win::ListedSerialPorts());
}

std::unique_ptr<Clock> MakeSystemClock() {
  return std::make_unique<win::WinSystemClock>();
}

std::unique_ptr<ProcessLauncher> MakeProcessLauncher() {
  return std::make_unique<win::WinProcessLauncher>();
}

std::unique_ptr<ChildStarter> MakeChildStarter() {
  return std::make_unique<win::WinChildStarter>();
}

std::unique_ptr<DispatchPriority> MakeDispatchPriority() {
  return std::make_unique<win::MmcssDispatchPriority>();
}

}  // namespace platform
