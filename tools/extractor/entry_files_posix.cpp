#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <string>
#include <utility>
#include <vector>

#include "tools/extractor/entry_files.h"
#include "tools/extractor/extract.h"

namespace extractor {
namespace {

volatile std::sig_atomic_t gStopRequested = 0;

extern "C" void RequestStop(int) {
  gStopRequested = 1;
}

// Owns one file descriptor.
class Fd {
 public:
  explicit Fd(int fd) : fd_(fd) {}
  Fd(Fd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  Fd& operator=(Fd&&) = delete;
  ~Fd() { Reset(-1); }
  void Reset(int fd) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = fd;
  }
  int get() const { return fd_; }
  explicit operator bool() const { return fd_ >= 0; }

 private:
  int fd_;
};

// The folder of an entry, opened one part at a time below the working
// directory without following links. Relative to a descriptor, renaming and
// removing work however deep the folder lies: a path past PATH_MAX cannot be
// named whole.
Fd OpenEntryFolder(const std::string& folder) {
  Fd current(::open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  std::size_t start = 0;
  while (current && start < folder.size()) {
    std::size_t end = folder.find('/', start);
    if (end == std::string::npos) end = folder.size();
    const std::string part = folder.substr(start, end - start);
    current.Reset(
        ::openat(current.get(), part.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    start = end + 1;
  }
  return current;
}

// Walks the folder `fd` (never through a link) and removes what killed
// extractors left. Bounded in depth and count: a hostile tree left by an
// earlier archive must not make every later extraction slow.
void ClearDeadRunsPartialsBelow(int fd, int depth, int& budget) {
  if (depth > 64) return;
  DIR* dir = ::fdopendir(::dup(fd));
  if (dir == nullptr) return;
  std::vector<std::string> folders;
  while (const dirent* entry = ::readdir(dir)) {
    if (--budget < 0) break;
    const std::string_view name = entry->d_name;
    if (name == "." || name == "..") continue;
    if (entry->d_type == DT_DIR) {
      folders.emplace_back(name);
    } else if (entry->d_type == DT_REG || entry->d_type == DT_UNKNOWN) {
      if (IsDeadRunsPartial(name)) ::unlinkat(fd, entry->d_name, 0);
    }
  }
  ::closedir(dir);
  for (const std::string& name : folders) {
    const Fd child(::openat(fd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (child) ClearDeadRunsPartialsBelow(child.get(), depth + 1, budget);
  }
}

}  // namespace

long ThisProcessId() {
  return static_cast<long>(::getpid());
}

bool ProcessIsGone(long pid) {
  // EPERM: a process of another user runs under that id.
  return ::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH;
}

PartialFile PartialBeside(const std::string& entryPath) {
  PartialFile partial;
  const std::size_t slash = entryPath.rfind('/');
  partial.folder = slash == std::string::npos ? "" : entryPath.substr(0, slash);
  partial.target = slash == std::string::npos ? entryPath : entryPath.substr(slash + 1);
  partial.name = PartialNameOfThisRun();
  const Fd folder = OpenEntryFolder(partial.folder);
  if (!folder) return partial;  // not there yet: libarchive creates it
  for (int n = 1; n < 1000; ++n) {
    struct stat st {};
    if (::fstatat(folder.get(), partial.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) break;
    partial.name = PartialNameOfThisRun() + "-" + std::to_string(n);
  }
  return partial;
}

// Gives the finished partial file its own name; an error says why not.
std::error_code MovePartialIntoPlace(const PartialFile& partial) {
  const Fd folder = OpenEntryFolder(partial.folder);
  if (!folder) return {errno, std::generic_category()};
  // rename() replaces a link standing at the target rather than following it.
  if (::renameat(folder.get(), partial.name.c_str(), folder.get(), partial.target.c_str()) != 0) {
    return {errno, std::generic_category()};
  }
  return {};
}

void RemovePartial(const PartialFile& partial) {
  const Fd folder = OpenEntryFolder(partial.folder);
  if (folder) ::unlinkat(folder.get(), partial.name.c_str(), 0);
}

// Removes a file this run wrote, given by its path below the destination.
void RemoveWritten(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  const Fd folder = OpenEntryFolder(slash == std::string::npos ? "" : path.substr(0, slash));
  if (folder) {
    ::unlinkat(folder.get(), (slash == std::string::npos ? path : path.substr(slash + 1)).c_str(),
               0);
  }
}

void ClearDeadRunsPartials() {
  const Fd top(::open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  int budget = 100000;
  if (top) ClearDeadRunsPartialsBelow(top.get(), 0, budget);
}

bool StopRequested() {
  return gStopRequested != 0;
}

bool EndWithParent() {
  const pid_t parent = ::getppid();
  struct sigaction stop {};
  stop.sa_handler = RequestStop;
  sigemptyset(&stop.sa_mask);
  for (const int signal : {SIGTERM, SIGINT, SIGHUP}) ::sigaction(signal, &stop, nullptr);
  ::prctl(PR_SET_PDEATHSIG, SIGTERM);
  // The parent may have died before the request was made.
  return ::getppid() == parent;
}

}  // namespace extractor
