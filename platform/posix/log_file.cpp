#include "platform/log_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "platform/file_store.h"
#include "platform/posix/unique_fd.h"

namespace platform {
namespace {

class PosixLogFile final : public LogFile {
 public:
  PosixLogFile(std::string path, std::uintmax_t limitBytes)
      : path_(std::move(path)), limit_(limitBytes) {}

  Status AppendLine(const std::string& line) override {
    const std::string bytes = line + "\n";
    struct stat info {};
    if (::stat(path_.c_str(), &info) == 0 && info.st_size > 0 &&
        static_cast<std::uintmax_t>(info.st_size) + bytes.size() > limit_) {
      // A failed move leaves the file growing rather than losing the line.
      for (int older = kLogGenerations - 1; older >= 1; --older) {
        (void)std::rename((path_ + "." + std::to_string(older)).c_str(),
                          (path_ + "." + std::to_string(older + 1)).c_str());
      }
      (void)std::rename(path_.c_str(), (path_ + ".1").c_str());
    }
    // A pipe or a device put in the log's place is never opened: writing
    // to one could hold up the show.
    if (const Status openable = CheckOpenableFile(path_); !openable) {
      return Status::Error("The show log cannot be written: " + openable.message());
    }
    UniqueFd fd(::open(path_.c_str(),
                       O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NONBLOCK | O_NOCTTY, 0644));
    if (!fd) return Failure(errno);
    // Swapped in between the look and the open: still never written.
    if (struct stat opened{}; ::fstat(fd.get(), &opened) != 0 || !S_ISREG(opened.st_mode)) {
      return Status::Error("The show log cannot be written: \"" + path_ +
                           "\": it is not a regular file");
    }
    std::size_t done = 0;
    while (done < bytes.size()) {
      const ssize_t n = ::write(fd.get(), bytes.data() + done, bytes.size() - done);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return Failure(n < 0 ? errno : EIO);
      done += static_cast<std::size_t>(n);
    }
    return Status::Ok();
  }

 private:
  Status Failure(int error) const {
    return Status::Error("The show log " + path_ + " cannot be written: " + std::strerror(error));
  }

  std::string path_;
  std::uintmax_t limit_;
};

}  // namespace

std::unique_ptr<LogFile> MakeLogFile(const std::string& path, std::uintmax_t limitBytes) {
  return std::make_unique<PosixLogFile>(path, limitBytes);
}

std::string LocalDateTime() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S %z", &local);
  return text;
}

}  // namespace platform
