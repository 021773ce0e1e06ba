#include "platform/win/win_serial_port.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <thread>

#include "platform/serial_settings.h"

namespace platform::win {
namespace {

using SteadyClock = std::chrono::steady_clock;

constexpr int kBitsPerByte = 10;  // start, eight data bits, stop
// Room for the driver to report its own timeout before we cancel the write.
constexpr DWORD kCompletionSlackMs = 500;

std::string ComName(int number) {
  return "COM" + std::to_string(number);
}

std::string ListText(const std::vector<ListedSerialPort>& listed) {
  if (listed.empty()) return "none found";
  std::string text = std::to_string(listed.size()) + " found:";
  for (const auto& port : listed) text += " " + ComName(port.number);
  return text;
}

// 8N1, no flow control of any kind: the controllers have no handshake lines
// and must never be able to hold the show back with XOFF.
void MakeRaw8N1(DCB& dcb, int baud) {
  dcb.DCBlength = sizeof dcb;
  dcb.BaudRate = static_cast<DWORD>(baud);
  dcb.ByteSize = 8;
  dcb.Parity = NOPARITY;
  dcb.StopBits = ONESTOPBIT;
  dcb.fBinary = TRUE;
  dcb.fParity = FALSE;
  dcb.fOutxCtsFlow = FALSE;
  dcb.fOutxDsrFlow = FALSE;
  dcb.fDtrControl = DTR_CONTROL_ENABLE;
  dcb.fDsrSensitivity = FALSE;
  dcb.fTXContinueOnXoff = TRUE;
  dcb.fOutX = FALSE;
  dcb.fInX = FALSE;
  dcb.fErrorChar = FALSE;
  dcb.fNull = FALSE;
  dcb.fRtsControl = RTS_CONTROL_ENABLE;
  dcb.fAbortOnError = FALSE;
}

// Milliseconds the line needs for one byte at `baud`, rounded up.
DWORD MsPerByte(int baud) {
  return static_cast<DWORD>((kBitsPerByte * 1000 + baud - 1) / baud);
}

}  // namespace

std::wstring ComDevicePath(int number) {
  return L"\\\\.\\COM" + std::to_wstring(number);
}

int ComNumberOf(std::string_view name) {
  if (name.substr(0, 4) == "\\\\.\\") name.remove_prefix(4);
  if (name.size() <= 3 || _strnicmp(std::string(name.substr(0, 3)).c_str(), "COM", 3) != 0) {
    return 0;
  }
  int number = 0;
  const char* end = name.data() + name.size();
  const auto [last, ec] = std::from_chars(name.data() + 3, end, number);
  if (ec != std::errc() || last != end || number <= 0) return 0;
  return number;
}

WinSerialPort::WinSerialPort(Options options) : options_(std::move(options)) {}

WinSerialPort::~WinSerialPort() {
  Close();
}

Status WinSerialPort::Open() {
  Close();
  int number = portNumber_;
  if (!options_.devicePath.empty()) {
    number = ComNumberOf(options_.devicePath);
    if (number == 0) {
      name_ = options_.devicePath;
      return Status::Error(name_ + ": not a COM port name (such as COM3)");
    }
  } else if (number < 1 || number > 16) {
    name_ = ComName(number);
    return Status::Error(name_ + ": port numbers run from 1 to 16");
  }
  name_ = ComName(number);

  auto baud = ParseSerialSettings(settings_);
  if (!baud) return Status::Error(name_ + ": " + baud.message());

  // No sharing: a second program writing the same line would interleave its
  // messages with ours, so Windows refuses it the port instead.
  UniqueHandle handle(::CreateFileW(ComDevicePath(number).c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                                    nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr));
  if (!handle) {
    const DWORD error = ::GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
      const auto listed = options_.listedPorts ? options_.listedPorts() : ListedSerialPorts();
      return Status::Error(name_ + ": no serial device (" + ListText(listed) + ")");
    }
    std::string message = name_ + ": " + SystemMessage(error);
    if (error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION) {
      message += " (in use by another program)";
    }
    return Status::Error(message);
  }

  // Windows keeps a port to its first opener, but not every driver does (nor
  // Wine): a name of ours held while the port is open keeps a second
  // Glimmerfield, the window beside the unattended show, off the line.
  UniqueHandle claim(
      ::CreateMutexW(nullptr, FALSE, (L"Global\\Glimmerfield " + Widen(name_)).c_str()));
  if (claim && ::GetLastError() == ERROR_ALREADY_EXISTS) {
    return Status::Error(name_ + ": in use by another program");
  }

  DCB dcb{};
  dcb.DCBlength = sizeof dcb;
  if (!::GetCommState(handle.get(), &dcb)) {
    return Status::Error(name_ + ": not a serial device (" + LastErrorMessage() + ")");
  }
  MakeRaw8N1(dcb, baud.value());
  if (!::SetCommState(handle.get(), &dcb)) {
    return Status::Error(name_ + ": cannot set line settings: " + LastErrorMessage());
  }
  // Drivers round arbitrary rates to what their divider can make; a UART
  // link tolerates about 3% before bytes come out wrong.
  DCB set{};
  set.DCBlength = sizeof set;
  if (::GetCommState(handle.get(), &set) &&
      std::abs(static_cast<double>(set.BaudRate) - baud.value()) > 0.03 * baud.value()) {
    return Status::Error(name_ + ": the driver cannot run at " + std::to_string(baud.value()) +
                         " baud (it gives " + std::to_string(set.BaudRate) + ")");
  }

  // Reads return at once; a write may take its bytes' time on the line plus
  // the stall timeout before the driver gives up on it.
  COMMTIMEOUTS timeouts{};
  timeouts.ReadIntervalTimeout = MAXDWORD;
  timeouts.WriteTotalTimeoutMultiplier = MsPerByte(baud.value());
  timeouts.WriteTotalTimeoutConstant = static_cast<DWORD>(options_.stallTimeout.count());
  if (!::SetCommTimeouts(handle.get(), &timeouts)) {
    return Status::Error(name_ + ": cannot set write timeouts: " + LastErrorMessage());
  }
  ::PurgeComm(handle.get(), PURGE_TXCLEAR | PURGE_RXCLEAR);

  handle_ = std::move(handle);
  claim_ = std::move(claim);
  baud_ = baud.value();
  return Status::Ok();
}

int WinSerialPort::ActualBaudRate() const {
  if (!handle_) return 0;
  DCB dcb{};
  dcb.DCBlength = sizeof dcb;
  if (!::GetCommState(handle_.get(), &dcb)) return 0;
  return static_cast<int>(dcb.BaudRate);
}

bool WinSerialPort::Drain() {
  DWORD lastQueued = MAXDWORD;
  auto lastProgress = SteadyClock::now();
  for (;;) {
    DWORD errors = 0;
    COMSTAT status{};
    if (!::ClearCommError(handle_.get(), &errors, &status) || status.cbOutQue == 0) return true;
    const auto now = SteadyClock::now();
    if (status.cbOutQue != lastQueued) {
      lastQueued = status.cbOutQue;
      lastProgress = now;
    } else if (now - lastProgress >= options_.stallTimeout) {
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
}

void WinSerialPort::Close() {
  if (!handle_) return;
  // What the line still takes goes out; a stalled adapter is cut off rather
  // than holding the close until its queue empties.
  if (!Drain()) ::PurgeComm(handle_.get(), PURGE_TXABORT | PURGE_TXCLEAR);
  handle_.Reset();
  claim_.Reset();
}

Status WinSerialPort::Fail(const std::string& message) {
  ::PurgeComm(handle_.get(), PURGE_TXABORT | PURGE_TXCLEAR);
  handle_.Reset();
  claim_.Reset();
  return Status::Error(message);
}

Status WinSerialPort::Write(std::string_view bytes) {
  if (!handle_) {
    return Status::Error("serial port " + (name_.empty() ? std::string("(none)") : name_) +
                         " is not open");
  }
  std::size_t done = 0;
  while (done < bytes.size()) {
    const DWORD count = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, 1u << 20));
    // No event: the port's only I/O is this write, so its handle tells when
    // it is over, and a write the driver finished at once (the usual case
    // under Wine) costs no event reset and set, each a round trip to Wine's
    // server.
    OVERLAPPED overlapped{};
    const bool finished =
        ::WriteFile(handle_.get(), bytes.data() + done, count, nullptr, &overlapped);
    if (!finished && ::GetLastError() != ERROR_IO_PENDING) {
      return Fail("serial port " + name_ + " lost: " + LastErrorMessage());
    }
    // The driver's own write timeout normally ends a stalled write; this
    // bound covers a driver that ignores it.
    const DWORD bound = static_cast<DWORD>(options_.stallTimeout.count()) +
                        count * MsPerByte(baud_) + kCompletionSlackMs;
    DWORD written = 0;
    if (!finished && ::WaitForSingleObject(handle_.get(), bound) == WAIT_TIMEOUT) {
      ::CancelIoEx(handle_.get(), &overlapped);
      // The write refers to our stack until the system says it is over.
      ::GetOverlappedResult(handle_.get(), &overlapped, &written, TRUE);
      return Fail("serial port " + name_ + " stopped taking data");
    }
    if (!::GetOverlappedResult(handle_.get(), &overlapped, &written, FALSE)) {
      const DWORD error = ::GetLastError();
      if (error == ERROR_OPERATION_ABORTED && written == 0) {
        return Fail("serial port " + name_ + " stopped taking data");
      }
      return Fail("serial port " + name_ + " lost: " + SystemMessage(error));
    }
    if (written == 0) return Fail("serial port " + name_ + " stopped taking data");
    done += written;
  }
  return Status::Ok();
}

std::string DescribeComPort(int number, const std::vector<ListedSerialPort>& listed) {
  for (const auto& port : listed) {
    if (port.number == number) return ComName(number) + " = " + port.device;
  }
  return ComName(number) + ": no serial device";
}

Status ComPortPresent(int portNumber, const std::string& devicePath,
                      const std::vector<ListedSerialPort>& listed) {
  const int number = devicePath.empty() ? portNumber : ComNumberOf(devicePath);
  const std::string name = devicePath.empty() ? ComName(portNumber) : devicePath;
  if (number == 0) return Status::Error(name + ": not a COM port name (such as COM3)");
  for (const auto& port : listed) {
    if (port.number == number) return Status::Ok();
  }
  return Status::Error(name + ": no serial device (" + ListText(listed) + ")");
}

}  // namespace platform::win
