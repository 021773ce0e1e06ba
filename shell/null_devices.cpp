#include "shell/null_devices.h"

namespace shell {

platform::Status NullSerialPort::Open() {
  return platform::Status::Error("serial port support is not built in");
}

platform::Status NullSerialPort::Write(std::string_view) {
  return platform::Status::Error("serial port support is not built in");
}

platform::Status NullAudioPlayer::Open(const std::string& path) {
  return platform::Status::Error("Cannot play " + path + ": audio support is not built in");
}

}  // namespace shell
