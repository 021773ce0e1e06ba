#include "platform/show_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "platform/posix/unique_fd.h"

namespace platform {
namespace {

class PosixShowLock final : public ShowLock {
 public:
  explicit PosixShowLock(UniqueFd fd) : fd_(std::move(fd)) {}

 private:
  UniqueFd fd_;
};

std::string LockPath(const std::string& folder) {
  return folder + "/" + kShowLockName;
}

// "1234 glimmer show", as the holder wrote it.
std::string Holder(int fd) {
  char text[256] = {};
  const ssize_t got = ::pread(fd, text, sizeof text - 1, 0);
  std::string holder(text, got > 0 ? static_cast<std::size_t>(got) : 0);
  while (!holder.empty() && (holder.back() == '\n' || holder.back() == '\0')) holder.pop_back();
  return holder;
}

std::string BusyMessage(const std::string& folder, const std::string& holder) {
  const std::size_t blank = holder.find(' ');
  std::string who = "another process";
  if (!holder.empty()) {
    who = "process " + holder.substr(0, blank);
    if (blank != std::string::npos) who += " (" + holder.substr(blank + 1) + ")";
  }
  return "A show already runs on the folder " + folder + ": " + who + " holds " + LockPath(folder) +
         ".";
}

}  // namespace

Result<std::unique_ptr<ShowLock>> TakeShowLock(const std::string& folder, const std::string& who) {
  using R = Result<std::unique_ptr<ShowLock>>;
  const std::string path = LockPath(folder);
  UniqueFd fd(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644));
  if (!fd && errno == ELOOP) {
    // A link is never followed: it could point at any file the user can write.
    return R::Error(path + " is a link, and a show's lock is never one: remove the link (rm " +
                    path + ") and start again.");
  }
  if (!fd) return R::Error("Cannot open " + path + ": " + std::strerror(errno) + ".");
  if (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
    if (errno == EWOULDBLOCK) return R::Error(BusyMessage(folder, Holder(fd.get())));
    return R::Error("Cannot lock " + path + ": " + std::strerror(errno) + ".");
  }
  const std::string holder = std::to_string(::getpid()) + " " + who + "\n";
  if (::ftruncate(fd.get(), 0) == 0) {
    (void)!::pwrite(fd.get(), holder.data(), holder.size(), 0);
  }
  return R(std::unique_ptr<ShowLock>(new PosixShowLock(std::move(fd))));
}

std::optional<std::string> OtherShowOnFolder(const std::string& folder) {
  const std::string path = LockPath(folder);
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
  if (!fd) return std::nullopt;
  const std::string holder = Holder(fd.get());
  if (holder.substr(0, holder.find(' ')) == std::to_string(::getpid())) return std::nullopt;
  if (::flock(fd.get(), LOCK_SH | LOCK_NB) == 0) return std::nullopt;  // nobody holds it
  if (errno != EWOULDBLOCK) return std::nullopt;
  return BusyMessage(folder, holder);
}

}  // namespace platform
