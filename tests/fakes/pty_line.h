#pragma once

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/eventfd.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>

namespace fakes {

// A pseudo-terminal standing in for the controllers' line. The port under
// test opens the device by name; a reader thread takes whatever arrives on
// the other side the moment the kernel hands it over. The kernel moves a
// pseudo-terminal's bytes on its own schedule, so a test that reads only
// right after each write can see the line fill up and the port wait on the
// real clock; with the reader always there the line never backs up.
//
// `keep` false only counts the bytes, for runs that must not grow.
class PtyLine {
 public:
  enum class Slave { Keep, Close };

  explicit PtyLine(bool keep = true, Slave slave = Slave::Keep) : keep_(keep) {
    int s = -1;
    termios raw{};
    cfmakeraw(&raw);
    if (openpty(&master_, &s, nullptr, &raw, nullptr) != 0) throw std::runtime_error("openpty");
    fcntl(master_, F_SETFD, FD_CLOEXEC);
    fcntl(s, F_SETFD, FD_CLOEXEC);
    fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
    name_ = ttyname(s);
    if (slave == Slave::Keep) {
      slave_ = s;
    } else {
      close(s);
    }
    wake_ = eventfd(0, EFD_CLOEXEC);
    reader_ = std::thread([this] { Read(); });
  }
  ~PtyLine() { Unplug(); }
  PtyLine(const PtyLine&) = delete;
  PtyLine& operator=(const PtyLine&) = delete;

  const std::string& Name() const { return name_; }
  int MasterFd() const { return master_; }

  // The device goes away: the reader stops after taking what was there, and
  // writes to the other side fail from now on.
  void Unplug() {
    if (master_ < 0) return;
    eventfd_write(wake_, 1);
    reader_.join();
    close(wake_);
    close(master_);
    if (slave_ >= 0) close(slave_);
    master_ = slave_ = wake_ = -1;
  }

  // Everything that has arrived so far.
  std::string Received() const {
    const std::lock_guard lock(mutex_);
    return received_;
  }
  long long Count() const { return count_.load(); }

  // Everything the port wrote, once no one holds the other side open any
  // more (the port under test has closed it). Reading until the kernel says
  // the other side hung up is what guarantees that nothing is still on its
  // way; the deadline only keeps a broken test from hanging.
  std::string ReceivedAfterClose(std::chrono::seconds deadline = std::chrono::seconds(30)) {
    std::unique_lock lock(mutex_);
    const long long after = hangUps_;
    hungUp_.wait_for(lock, deadline, [&] { return hangUps_ > after; });
    return received_;
  }

 private:
  void Read() {
    char buffer[4096];
    for (;;) {
      pollfd p[2] = {{master_, POLLIN, 0}, {wake_, POLLIN, 0}};
      if (poll(p, 2, -1) < 0) continue;
      // What is there when the stop comes is still taken.
      ssize_t n;
      while ((n = read(master_, buffer, sizeof buffer)) > 0) {
        count_ += n;
        if (keep_) {
          const std::lock_guard lock(mutex_);
          received_.append(buffer, static_cast<std::size_t>(n));
        }
      }
      if (n < 0 && errno == EIO) {
        const std::lock_guard lock(mutex_);
        ++hangUps_;
        hungUp_.notify_all();
      }
      if (p[1].revents & POLLIN) return;
      // EIO while nobody holds the other side open: wait for the next open
      // without spinning.
      if (p[0].revents & POLLHUP) poll(&p[1], 1, 5);
    }
  }

  const bool keep_;
  int master_ = -1, slave_ = -1, wake_ = -1;
  std::string name_;
  std::atomic<long long> count_{0};
  mutable std::mutex mutex_;
  std::condition_variable hungUp_;
  long long hangUps_ = 0;
  std::string received_;
  std::thread reader_;
};

}  // namespace fakes
