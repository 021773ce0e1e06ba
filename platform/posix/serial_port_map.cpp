#include "platform/posix/serial_port_map.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/serial.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <climits>
#include <fstream>
#include <optional>
#include <string_view>
#include <utility>

#include "platform/paths.h"
#include "platform/posix/unique_fd.h"

namespace platform {
namespace {

// "ttyUSB12" with prefix "ttyUSB" gives 12; anything else nothing.
std::optional<int> NumberAfter(std::string_view name, std::string_view prefix) {
  if (name.size() <= prefix.size() || name.substr(0, prefix.size()) != prefix) return std::nullopt;
  const std::string_view digits = name.substr(prefix.size());
  int value = 0;
  const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
  if (ec != std::errc() || end != digits.data() + digits.size() || value < 0) return std::nullopt;
  return value;
}

std::vector<std::pair<int, std::string>> Numbered(const std::vector<std::string>& entries,
                                                  std::string_view prefix) {
  std::vector<std::pair<int, std::string>> found;
  for (const auto& e : entries) {
    if (auto n = NumberAfter(e, prefix)) found.emplace_back(*n, e);
  }
  std::sort(found.begin(), found.end());
  found.erase(std::unique(found.begin(), found.end()), found.end());
  return found;
}

std::vector<std::string> ListDev() {
  std::vector<std::string> names;
  DIR* dir = opendir("/dev");
  if (!dir) return names;
  while (const dirent* e = readdir(dir)) names.emplace_back(e->d_name);
  closedir(dir);
  return names;
}

// The kernel keeps ttyS nodes for every port it might drive; only those with a
// UART type other than PORT_UNKNOWN exist. sysfs tells without opening the
// device; the ioctl is the fallback where sysfs is not mounted.
bool BuiltinPortHasHardware(const std::string& name) {
  std::ifstream typeFile("/sys/class/tty/" + name + "/type");
  int type = 0;
  if (typeFile >> type) return type != PORT_UNKNOWN;
  UniqueFd fd(::open(("/dev/" + name).c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
  if (!fd) return false;
  serial_struct info{};
  if (ioctl(fd.get(), TIOCGSERIAL, &info) != 0) return false;
  return info.type != PORT_UNKNOWN;
}

std::string LinkName(int number) {
  return std::string(kDosDevicesName) + "/com" + std::to_string(number);
}

// The pinned device for `number`, if the operator made one: the link's target
// when it is a link (so messages name the real device), else the file itself.
std::optional<std::string> PinnedDevice(int number, const std::string& appDir) {
  const std::string dir = DosDevicesFolder(appDir);
  const std::string link = appDir + "/" + LinkName(number);
  struct stat st {};
  if (lstat(link.c_str(), &st) != 0) return std::nullopt;
  if (!S_ISLNK(st.st_mode)) return link;
  std::string target(PATH_MAX, '\0');
  const ssize_t n = readlink(link.c_str(), target.data(), target.size());
  if (n <= 0) return link;
  target.resize(static_cast<std::size_t>(n));
  if (target.front() != '/') target = dir + "/" + target;
  return target;
}

bool Exists(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0;
}

std::string ComName(int number) {
  return "COM" + std::to_string(number);
}

}  // namespace

std::vector<std::string> SerialDevicesInComOrder(
    const std::vector<std::string>& devEntries,
    const std::function<bool(const std::string& name)>& builtinHasHardware) {
  std::vector<std::string> devices;
  for (const std::string_view prefix : {"ttyUSB", "ttyACM"}) {
    for (const auto& [n, name] : Numbered(devEntries, prefix)) devices.push_back("/dev/" + name);
  }
  for (const auto& [n, name] : Numbered(devEntries, "ttyS")) {
    if (builtinHasHardware(name)) devices.push_back("/dev/" + name);
  }
  return devices;
}

std::vector<std::string> PresentSerialDevices() {
  return SerialDevicesInComOrder(ListDev(), BuiltinPortHasHardware);
}

Result<SerialPortMapping> MapSerialPort(int number, const std::string& appDir,
                                        const std::vector<std::string>& present) {
  using R = Result<SerialPortMapping>;
  if (number < kFirstSerialPortNumber || number > kLastSerialPortNumber) {
    return R::Error(ComName(number) + ": port numbers run from 1 to 16");
  }
  if (auto pinned = PinnedDevice(number, appDir)) return SerialPortMapping{*pinned, true};
  const auto index = static_cast<std::size_t>(number - 1);
  if (index < present.size()) return SerialPortMapping{present[index], false};

  std::string message = ComName(number) + ": no serial device (";
  if (present.empty()) {
    message += "none found";
  } else {
    message += std::to_string(present.size()) + " found:";
    for (const auto& d : present) message += " " + d;
  }
  message += "; " + appDir + "/" + LinkName(number) + " can name one)";
  return R::Error(message);
}

Result<SerialPortMapping> MapSerialPort(int number, const std::string& appDir) {
  return MapSerialPort(number, appDir, PresentSerialDevices());
}

std::string DescribeSerialPort(int number, const std::string& appDir,
                               const std::vector<std::string>& present) {
  auto mapping = MapSerialPort(number, appDir, present);
  if (!mapping) return ComName(number) + ": no serial device";
  std::string text = ComName(number) + " = " + mapping.value().device;
  if (mapping.value().pinned) {
    text += " (" + LinkName(number);
    if (!Exists(mapping.value().device)) text += ", missing";
    text += ")";
  }
  return text;
}

std::string DescribeSerialPort(int number, const std::string& appDir) {
  return DescribeSerialPort(number, appDir, PresentSerialDevices());
}

}  // namespace platform
