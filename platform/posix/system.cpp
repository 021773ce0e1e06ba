#include "platform/system.h"

#include <signal.h>

#include <cerrno>

#include "platform/posix/posix_child_starter.h"
#include "platform/posix/posix_file_store.h"
#include "platform/posix/posix_process_launcher.h"
#include "platform/posix/realtime_priority.h"
#include "platform/posix/system_clock.h"
#include "platform/posix/system_time_source.h"
#include "platform/posix/termios_serial_port.h"

namespace platform {

std::unique_ptr<SerialPort> MakeSerialPort(const SerialPortOptions& options) {
  return std::make_unique<TermiosSerialPort>(
      TermiosSerialPort::Options{.applicationDirectory = options.dataFolder,
                                 .devicePath = options.devicePath,
                                 .stallTimeout = options.stallTimeout});
}

std::unique_ptr<Clock> MakeSystemClock() {
  return std::make_unique<SystemClock>();
}

std::unique_ptr<TimeSource> MakeTimeSource() {
  return std::make_unique<SystemTimeSource>();
}

std::unique_ptr<FileStore> MakeFileStore() {
  return std::make_unique<PosixFileStore>();
}

std::unique_ptr<ProcessLauncher> MakeProcessLauncher() {
  return std::make_unique<PosixProcessLauncher>();
}

std::unique_ptr<ChildStarter> MakeChildStarter() {
  return std::make_unique<PosixChildStarter>();
}

std::unique_ptr<DispatchPriority> MakeDispatchPriority() {
  return std::make_unique<RealtimePriority>();
}

bool ProcessIsGone(long pid) {
  // EPERM: a process of another user runs under that id.
  return ::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH;
}

}  // namespace platform
