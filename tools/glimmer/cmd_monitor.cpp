// glimmer monitor: shows what a serial line carries, one decoded message per
// line, so an operator can see what the controllers are being told.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "platform/posix/termios_serial_port.h"
#include "platform/posix/unique_fd.h"
#include "tools/glimmer/command_line.h"
#include "tools/glimmer/commands.h"
#include "tools/glimmer/message_decoder.h"

namespace glimmer {
namespace {

constexpr const char* kUsage =
    "Usage: glimmer monitor [--baud N] DEVICE\n"
    "Reads the controller line on DEVICE (a serial device or pseudo-terminal; '-' reads\n"
    "standard input) and prints one line per message: milliseconds since the first\n"
    "byte, then the message, for example\n"
    "  0 port-open\n"
    "  1234 device 3 fade bank 1 start 0 end 255 short 1 long 250 mask 0x04\n"
    "Bytes that form no message are printed as \"unknown bytes: ...\".\n"
    "A pseudo-terminal keeps what was written while nobody read it: such bytes arrive\n"
    "at once when the monitor starts and show at 0 ms (a note on standard error says\n"
    "how many); start the monitor before the show to see true times.\n"
    "Ends on Ctrl+C or when the other side closes the line.\n\n"
    "Options:\n"
    "  --baud N   line speed of a serial device (default 115200; 56000 works too)\n"
    "  --help     this text\n";

// Bytes of a message that has not finished arriving are held this long
// before they are shown as unknown.
constexpr int kQuietFlushMs = 1000;

void Print(const std::vector<MonitorLine>& lines) {
  for (const auto& line : lines) std::printf("%s\n", line.Format().c_str());
  if (!lines.empty()) std::fflush(stdout);
}

}  // namespace

int RunMonitor(const std::vector<std::string>& args) {
  int baud = 115200;
  std::optional<std::string> device;
  std::string deviceText;
  CLI::App app;
  app.add_option("--baud", baud)
      ->check(CLI::Validator(
          [](std::string& text) -> std::string {
            int rate = 0;
            const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), rate);
            if (ec == std::errc() && end == text.data() + text.size() &&
                platform::ParseSerialSettings(platform::LineSettingsText(rate))) {
              return {};
            }
            return "needs a line speed such as 56000, not '" + text + "'";
          },
          "N"));
  app.add_option("DEVICE", deviceText)->required();
  if (auto ended = ParseArguments(app, "monitor", kUsage, args)) return *ended;
  device = deviceText;

  platform::UniqueFd ownFd;
  int fd = STDIN_FILENO;
  if (*device != "-") {
    ownFd.Reset(::open(device->c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    if (!ownFd) {
      std::fprintf(stderr, "glimmer monitor: cannot open %s: %s\n", device->c_str(),
                   std::strerror(errno));
      return 1;
    }
    fd = ownFd.get();
    if (isatty(fd)) {
      if (auto s = platform::ConfigureSerialLine(fd, baud); !s) {
        std::fprintf(stderr, "glimmer monitor: %s: %s\n", device->c_str(), s.message().c_str());
        return 1;
      }
    }
  }

  // Bytes already queued on the line were sent while nobody read it (a
  // pseudo-terminal keeps them): they all arrive in the first read, and when
  // they were sent is unknown, so their 0 ms would pass for the show's own
  // timing unless we say so.
  if (int waiting = 0; isatty(fd) && ::ioctl(fd, FIONREAD, &waiting) == 0 && waiting > 0) {
    std::fprintf(stderr,
                 "glimmer monitor: %d bytes were already waiting on %s, written before the "
                 "monitor started; they show at 0 ms, as when they were sent is unknown\n",
                 waiting, device->c_str());
  }

  // Ctrl+C arrives as a readable descriptor beside the line, so the loop can
  // print what it holds and leave cleanly.
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  sigprocmask(SIG_BLOCK, &signals, nullptr);
  platform::UniqueFd signalFd(signalfd(-1, &signals, SFD_CLOEXEC));
  if (!signalFd) {
    std::fprintf(stderr, "glimmer monitor: cannot watch for Ctrl+C: %s\n", std::strerror(errno));
    return 1;
  }

  using Clock = std::chrono::steady_clock;
  std::optional<Clock::time_point> first;
  MessageDecoder decoder;
  std::string why = "closed";
  char buffer[4096];
  for (;;) {
    pollfd fds[2] = {{fd, POLLIN, 0}, {signalFd.get(), POLLIN, 0}};
    const int ready = ::poll(fds, 2, decoder.HasPending() ? kQuietFlushMs : -1);
    if (ready < 0) {
      if (errno == EINTR) continue;
      why = std::string("poll failed: ") + std::strerror(errno);
      break;
    }
    if (ready == 0) {
      Print(decoder.Flush());
      continue;
    }
    if (fds[1].revents & POLLIN) {
      why = "interrupted";
      break;
    }
    if (fds[0].revents & (POLLIN | POLLHUP | POLLERR)) {
      const ssize_t n = ::read(fd, buffer, sizeof buffer);
      if (n > 0) {
        const auto now = Clock::now();
        if (!first) first = now;
        const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now - *first);
        Print(decoder.Feed(std::string_view(buffer, static_cast<std::size_t>(n)), ms.count()));
        continue;
      }
      if (n < 0 && (errno == EAGAIN || errno == EINTR)) continue;
      // A pseudo-terminal whose other side has gone reads EIO; a pipe or file
      // reads 0 at its end.
      if (n < 0 && errno != EIO) why = std::string("read failed: ") + std::strerror(errno);
      break;
    }
  }
  Print(decoder.Flush());
  std::fprintf(stderr, "glimmer monitor: %s %s\n", device->c_str(), why.c_str());
  return why == "closed" || why == "interrupted" ? 0 : 1;
}

}  // namespace glimmer
