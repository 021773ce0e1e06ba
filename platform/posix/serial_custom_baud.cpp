#include "platform/posix/serial_custom_baud.h"

#include <asm/termbits.h>
#include <sys/ioctl.h>

#include <cerrno>
#include <cstring>
#include <string>

namespace platform {

Status SetCustomBaudRate(int fd, int baud) {
  struct termios2 tio {};
  if (ioctl(fd, TCGETS2, &tio) != 0) {
    return Status::Error(std::string("cannot read line settings: ") + std::strerror(errno));
  }
  tio.c_cflag &= ~(CBAUD | (CBAUD << IBSHIFT));
  tio.c_cflag |= BOTHER | (BOTHER << IBSHIFT);
  tio.c_ospeed = static_cast<speed_t>(baud);
  tio.c_ispeed = static_cast<speed_t>(baud);
  if (ioctl(fd, TCSETS2, &tio) != 0) {
    return Status::Error("cannot set " + std::to_string(baud) + " baud: " + std::strerror(errno));
  }
  return Status::Ok();
}

Result<ReportedBaudRate> ReadBaudRate(int fd) {
  struct termios2 tio {};
  if (ioctl(fd, TCGETS2, &tio) != 0) {
    return Result<ReportedBaudRate>::Error(std::string("cannot read line settings: ") +
                                           std::strerror(errno));
  }
  ReportedBaudRate rate;
  rate.speed = tio.c_ospeed;
  rate.custom = (tio.c_cflag & CBAUD) == BOTHER;
  return rate;
}

}  // namespace platform
