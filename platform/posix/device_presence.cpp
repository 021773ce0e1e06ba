#include "platform/posix/device_presence.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include "platform/posix/serial_port_map.h"

namespace platform {

Status SerialDevicePresent(int portNumber, const std::string& appDir,
                           const std::string& devicePath) {
  std::string device = devicePath;
  std::string which = devicePath;
  if (device.empty()) {
    auto mapped = MapSerialPort(portNumber, appDir);
    if (!mapped) return mapped.status();
    device = mapped.value().device;
    which = "COM" + std::to_string(portNumber) + " = " + device;
  }
  struct stat st {};
  if (::stat(device.c_str(), &st) != 0) {
    return Status::Error(which + ": " + std::strerror(errno));
  }
  return Status::Ok();
}

}  // namespace platform
