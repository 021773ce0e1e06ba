#include "platform/posix/termios_serial_port.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "platform/posix/serial_custom_baud.h"
#include "platform/posix/serial_port_map.h"

namespace platform {
namespace {

using SteadyClock = std::chrono::steady_clock;

std::optional<speed_t> ClassicSpeed(int baud) {
  switch (baud) {
    case 1200:
      return B1200;
    case 2400:
      return B2400;
    case 4800:
      return B4800;
    case 9600:
      return B9600;
    case 19200:
      return B19200;
    case 38400:
      return B38400;
    case 57600:
      return B57600;
    case 115200:
      return B115200;
    case 230400:
      return B230400;
    case 460800:
      return B460800;
    case 921600:
      return B921600;
    default:
      return std::nullopt;
  }
}

std::string SystemReason(int error) {
  return std::strerror(error);
}

}  // namespace

Status ConfigureSerialLine(int fd, int baud) {
  termios tio{};
  if (tcgetattr(fd, &tio) != 0) {
    return Status::Error("not a serial device (" + SystemReason(errno) + ")");
  }
  cfmakeraw(&tio);
  tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | CSTOPB | CRTSCTS);
  tio.c_cflag |= CS8 | CLOCAL | CREAD;
  tio.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
  tio.c_cc[VMIN] = 0;
  tio.c_cc[VTIME] = 0;
  const auto classic = ClassicSpeed(baud);
  // A placeholder for non-classic rates: termios2 replaces it below.
  const speed_t speed = classic ? *classic : B38400;
  cfsetispeed(&tio, speed);
  cfsetospeed(&tio, speed);
  if (tcsetattr(fd, TCSANOW, &tio) != 0) {
    return Status::Error("cannot set line settings: " + SystemReason(errno));
  }
  if (classic) return Status::Ok();

  if (auto s = SetCustomBaudRate(fd, baud); !s) return s;
  // Drivers round arbitrary rates to what their divider can make; a UART link
  // tolerates about 3% before bytes come out wrong.
  auto reported = ReadBaudRate(fd);
  if (!reported) return reported.status();
  const double actual = reported.value().speed;
  if (actual <= 0 || std::abs(actual - baud) > 0.03 * baud) {
    return Status::Error("the driver cannot run at " + std::to_string(baud) + " baud (it gives " +
                         std::to_string(reported.value().speed) + ")");
  }
  return Status::Ok();
}

TermiosSerialPort::TermiosSerialPort(Options options) : options_(std::move(options)) {}

TermiosSerialPort::~TermiosSerialPort() {
  Close();
}

Status TermiosSerialPort::Open() {
  Close();
  if (!options_.devicePath.empty()) {
    device_ = options_.devicePath;
  } else {
    auto mapping =
        MapSerialPort(portNumber_, options_.applicationDirectory,
                      options_.presentDevices ? options_.presentDevices() : PresentSerialDevices());
    if (!mapping) return mapping.status();
    const bool replacesLostDevice = !mapping.value().pinned && !lostDevice_.empty() &&
                                    lostPortNumber_ == portNumber_ &&
                                    mapping.value().device != lostDevice_;
    if (replacesLostDevice) {
      const std::string com = "COM" + std::to_string(portNumber_);
      return Status::Error(lostDevice_ + " went away; " + mapping.value().device +
                           " is now next in line for " + com +
                           " but is another device and is not used in its place (plug the "
                           "device back in, or pin " +
                           com + " in dosdevices)");
    }
    device_ = mapping.value().device;
  }
  // Callers put the port number in front; the device and the reason are ours.
  const std::string& portName = device_;

  auto baud = ParseSerialSettings(settings_);
  if (!baud) return Status::Error(portName + ": " + baud.message());

  UniqueFd fd(::open(device_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
  if (!fd) {
    const int error = errno;
    std::string message = portName + ": " + SystemReason(error);
    if (error == EACCES) message += " (is the user in the dialout group?)";
    if (error == EBUSY) message += " (in use by another program)";
    return Status::Error(message);
  }
  // Two programs writing the same line would interleave their messages; the
  // lock and TIOCEXCL make a second opener fail instead.
  if (flock(fd.get(), LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
    return Status::Error(portName + ": in use by another program");
  }
  if (auto s = ConfigureSerialLine(fd.get(), baud.value()); !s) {
    return Status::Error(portName + ": " + s.message());
  }
  ioctl(fd.get(), TIOCEXCL);
  tcflush(fd.get(), TCIOFLUSH);
  fd_ = std::move(fd);
  if (device_ == lostDevice_) lostDevice_.clear();
  return Status::Ok();
}

bool TermiosSerialPort::Drain() {
  int queued = 0, lastQueued = -1;
  auto lastProgress = SteadyClock::now();
  while (ioctl(fd_.get(), TIOCOUTQ, &queued) == 0 && queued > 0) {
    const auto now = SteadyClock::now();
    if (queued != lastQueued) {
      lastQueued = queued;
      lastProgress = now;
    } else if (now - lastProgress >= options_.stallTimeout) {
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

void TermiosSerialPort::Close() {
  if (!fd_) return;
  // Never flushed on a line that still takes data: on a pseudo-terminal a
  // flush would even discard what the other side has not read yet. Only a
  // line that took nothing for stallTimeout is cut off, since the serial
  // core would otherwise hold close() for up to 30 s over its queue.
  if (!Drain()) tcflush(fd_.get(), TCOFLUSH);
  Release();
}

void TermiosSerialPort::Release() {
  // The exclusive mode belongs to the terminal, not to our descriptor: left
  // set, it outlives the close for as long as anyone else holds the device
  // (socat's pseudo-terminal, a getty), and every later open by an ordinary
  // user fails with "Device or resource busy".
  ioctl(fd_.get(), TIOCNXCL);
  flock(fd_.get(), LOCK_UN);
  fd_.Reset();
}

void TermiosSerialPort::SetPortNumber(int number) {
  if (number != portNumber_) lostDevice_.clear();
  portNumber_ = number;
}

Status TermiosSerialPort::Fail(const std::string& message) {
  lostDevice_ = device_;
  lostPortNumber_ = portNumber_;
  tcflush(fd_.get(), TCOFLUSH);
  Release();
  return Status::Error(message);
}

Status TermiosSerialPort::Write(std::string_view bytes) {
  if (!fd_) {
    return Status::Error("serial port " + (device_.empty() ? std::string("(none)") : device_) +
                         " is not open");
  }
  std::size_t done = 0;
  auto lastProgress = SteadyClock::now();
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd_.get(), bytes.data() + done, bytes.size() - done);
    if (n > 0) {
      done += static_cast<std::size_t>(n);
      lastProgress = SteadyClock::now();
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
      return Fail("serial port " + device_ + " lost: " + SystemReason(errno));
    }
    const auto waited = SteadyClock::now() - lastProgress;
    if (waited >= options_.stallTimeout) {
      return Fail("serial port " + device_ + " stopped taking data");
    }
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(options_.stallTimeout - waited);
    pollfd p{fd_.get(), POLLOUT, 0};
    const int r = ::poll(&p, 1, static_cast<int>(left.count()));
    if (r < 0 && errno != EINTR) {
      return Fail("serial port " + device_ + " lost: " + SystemReason(errno));
    }
    if (r > 0 && (p.revents & (POLLERR | POLLHUP | POLLNVAL)) && !(p.revents & POLLOUT)) {
      // The next write would only say EAGAIN again; the hang-up is the news.
      return Fail("serial port " + device_ + " lost: " + SystemReason(EIO));
    }
  }
  return Status::Ok();
}

}  // namespace platform
