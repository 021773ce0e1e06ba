#include "platform/posix/notify_socket.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdlib>
#include <cstring>

#include "platform/posix/unique_fd.h"

namespace platform {
namespace {

std::string EnvironmentValue(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

}  // namespace

NotifySocket::NotifySocket(std::string address, std::chrono::microseconds watchdogInterval)
    : address_(std::move(address)), watchdogInterval_(watchdogInterval) {}

Status NotifySocket::Notify(const std::string& state) {
  sockaddr_un to{};
  to.sun_family = AF_UNIX;
  if (address_.size() < 2 || address_.size() >= sizeof to.sun_path ||
      (address_[0] != '/' && address_[0] != '@')) {
    return Status::Error("notify socket \"" + address_ + "\" is not a socket address");
  }
  std::memcpy(to.sun_path, address_.data(), address_.size());
  socklen_t length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + address_.size());
  if (address_[0] == '@') {
    to.sun_path[0] = '\0';  // abstract: the name is the bytes after it, no terminator
  } else {
    ++length;
  }
  // Never blocking: a manager whose queue is full (it reads at most a few
  // datagrams behind) must cost the show a lost ping, not a stuck loop.
  UniqueFd fd(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
  if (!fd) return Status::Error(std::string("notify socket: ") + std::strerror(errno));
  const ssize_t sent = ::sendto(fd.get(), state.data(), state.size(), MSG_NOSIGNAL | MSG_DONTWAIT,
                                reinterpret_cast<const sockaddr*>(&to), length);
  if (sent < 0) {
    return Status::Error("notify socket " + address_ + ": " + std::strerror(errno));
  }
  return Status::Ok();
}

std::unique_ptr<ServiceManager> ConnectServiceManager() {
  const std::string address = EnvironmentValue("NOTIFY_SOCKET");
  const std::string usec = EnvironmentValue("WATCHDOG_USEC");
  const std::string pid = EnvironmentValue("WATCHDOG_PID");
  ::unsetenv("NOTIFY_SOCKET");
  ::unsetenv("WATCHDOG_USEC");
  ::unsetenv("WATCHDOG_PID");
  if (address.empty()) return nullptr;
  std::chrono::microseconds interval{0};
  char* end = nullptr;
  const unsigned long long value = std::strtoull(usec.c_str(), &end, 10);
  const bool forUs = pid.empty() || std::strtoll(pid.c_str(), nullptr, 10) == ::getpid();
  if (!usec.empty() && end && *end == '\0' && forUs) {
    interval = std::chrono::microseconds(static_cast<std::chrono::microseconds::rep>(value));
  }
  return std::make_unique<NotifySocket>(address, interval);
}

}  // namespace platform
