#pragma once

#include <chrono>
#include <memory>
#include <string>

#include "platform/child_process.h"
#include "platform/clock.h"
#include "platform/dispatch_priority.h"
#include "platform/file_store.h"
#include "platform/process_launcher.h"
#include "platform/serial_port.h"
#include "platform/time_source.h"

// The real implementations of this system's interfaces, as the programs
// create them: the same program text builds on Linux and on Windows, and
// only these factories know which class stands behind each interface.
namespace platform {

struct SerialPortOptions {
  // The player's data folder, where dosdevices/comN links pin port numbers
  // to devices (Linux; Windows numbers its ports itself).
  std::string dataFolder;
  // When set ("/dev/ttyUSB0", "COM3"), this device whatever the number.
  std::string devicePath;
  // A write the device takes nothing of for this long fails and closes it.
  std::chrono::milliseconds stallTimeout{1000};
};

std::unique_ptr<SerialPort> MakeSerialPort(const SerialPortOptions& options);
// Whether the serial device the show would open is there now: `devicePath`
// when given, else COM port `portNumber`.
Status SerialDevicePresent(int portNumber, const std::string& dataFolder,
                           const std::string& devicePath);
std::unique_ptr<Clock> MakeSystemClock();
std::unique_ptr<TimeSource> MakeTimeSource();
std::unique_ptr<FileStore> MakeFileStore();
std::unique_ptr<ProcessLauncher> MakeProcessLauncher();
std::unique_ptr<ChildStarter> MakeChildStarter();
// Real-time priority for the show's dispatch (SCHED_FIFO, or MMCSS "Pro
// Audio" on Windows) where the system grants it.
std::unique_ptr<DispatchPriority> MakeDispatchPriority();

// Whether no process runs under `pid` any more (one of another user runs):
// what a program's leftovers named by its id may be removed by.
bool ProcessIsGone(long pid);

}  // namespace platform
