#pragma once

#include <string>

#include "platform/status.h"

namespace platform {

// Whether the serial device the show would open is there now: `devicePath`
// when given, else COM port `portNumber` as MapSerialPort finds it. Links
// (dosdevices/comN, /dev/serial/by-id/...) are followed to the end, so a
// link to an adapter not yet plugged in counts as missing.
Status SerialDevicePresent(int portNumber, const std::string& appDir,
                           const std::string& devicePath);

}  // namespace platform
