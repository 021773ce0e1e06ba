#include "platform/posix/line_output.h"

#include <fcntl.h>
#include <limits.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace platform {

LineOutput::LineOutput(int fd) : fd_(fd) {
  struct stat st {};
  if (::fstat(fd, &st) != 0) return;
  regular_ = S_ISREG(st.st_mode);
  if (regular_) return;
  // A pipe, FIFO or terminal opened anew is a description of its own: the
  // non-blocking flag stays ours. A socket cannot be opened so; then every
  // write first asks whether there is room.
  const std::string path = "/proc/self/fd/" + std::to_string(fd);
  own_.Reset(::open(path.c_str(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
}

bool LineOutput::Put(const std::string& bytes) {
  const int fd = own_ ? own_.get() : fd_;
  if (!regular_ && !own_) {
    pollfd p{fd, POLLOUT, 0};
    if (::poll(&p, 1, 0) != 1 || !(p.revents & POLLOUT)) return false;
  }
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n > 0) {
      done += static_cast<std::size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    // EAGAIN (no room), EPIPE (no reader), or anything else: the line is
    // lost, the show is not held up. A line cut after its start still ends.
    // Whether the newline gets through changes nothing: the line is lost.
    if (done > 0 && done < bytes.size() && ::write(fd, "\n", 1) != 1) {
    }
    return done == bytes.size();
  }
  return true;
}

void LineOutput::Write(const std::string& line) {
  std::string bytes;
  if (dropped_ > reported_) {
    bytes = "(" + std::to_string(dropped_ - reported_) + " line(s) not shown: output was full)\n";
  }
  // At most one pipe buffer at a time, so a non-blocking write of a line
  // either fits whole or not at all.
  constexpr std::size_t kLongest = PIPE_BUF - 100;
  bytes += line.size() > kLongest ? line.substr(0, kLongest) + "..." : line;
  bytes += '\n';
  if (Put(bytes)) {
    reported_ = dropped_;
  } else {
    ++dropped_;
  }
}

}  // namespace platform
