#include "platform/posix/posix_file_store.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <string>
#include <string_view>

namespace platform {
namespace {

std::string SystemError(const std::string& what, const std::string& path) {
  return what + " " + path + ": " + std::strerror(errno);
}

std::string FolderOf(const std::string& path) {
  const auto slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

constexpr std::string_view kTempSuffix = ".tmp";
constexpr std::size_t kTempRandomChars = 6;  // what mkstemp fills in

bool AllAlphanumeric(std::string_view text) {
  return std::all_of(text.begin(), text.end(),
                     [](char c) { return std::isalnum(static_cast<unsigned char>(c)); });
}

// Whether the temporary `rest` (the part of its name after "<file>.tmp")
// belongs to a writer that is gone. Each writer's temporary carries its
// process id ("-<pid>-XXXXXX"), so a save running beside ours in another
// program is never touched; the form without an id ("XXXXXX") is an
// earlier version's, whose writers are over.
bool IsDeadWritersTemporary(std::string_view rest) {
  if (rest.size() == kTempRandomChars) return AllAlphanumeric(rest);
  if (rest.size() < kTempRandomChars + 3 || rest.front() != '-') return false;
  const std::string_view random = rest.substr(rest.size() - kTempRandomChars);
  const std::string_view pidText = rest.substr(1, rest.size() - kTempRandomChars - 2);
  if (rest[rest.size() - kTempRandomChars - 1] != '-' || !AllAlphanumeric(random)) return false;
  if (pidText.empty() || pidText.size() > 9) return false;
  pid_t pid = 0;
  for (const char c : pidText) {
    if (c < '0' || c > '9') return false;
    pid = pid * 10 + (c - '0');
  }
  // Our own process may save the same file from another thread.
  if (pid <= 0 || pid == getpid()) return false;
  // EPERM: alive, under another user.
  return kill(pid, 0) != 0 && errno == ESRCH;
}

// A writer killed between creating its temporary file and the rename leaves
// that file behind. Once a later write of the same file has succeeded, those
// leftovers are only partial copies: remove them so crashes cannot pile up
// half-written files (up to a compiled sequence in size each) in the folder.
// A temporary of a writer still running is its save in progress, not a
// leftover.
void RemoveLeftoverTemporaries(const std::string& path) {
  const std::string folder = FolderOf(path);
  const auto slash = path.find_last_of('/');
  const std::string prefix =
      (slash == std::string::npos ? path : path.substr(slash + 1)) + std::string(kTempSuffix);
  DIR* dir = opendir(folder.c_str());
  if (dir == nullptr) return;
  while (const dirent* entry = readdir(dir)) {
    const std::string_view name = entry->d_name;
    if (!name.starts_with(prefix)) continue;
    if (IsDeadWritersTemporary(name.substr(prefix.size()))) unlinkat(dirfd(dir), entry->d_name, 0);
  }
  closedir(dir);
}

}  // namespace

Status PosixFileStore::ReplaceFile(const std::string& path, std::string_view bytes) {
  std::string temp = path + std::string(kTempSuffix) + "-" + std::to_string(getpid()) + "-" +
                     std::string(kTempRandomChars, 'X');
  const int fd = mkstemp(temp.data());
  if (fd < 0) return Status::Error(SystemError("Cannot create a file beside", path));
  fchmod(fd, 0644);

  auto fail = [&](const std::string& what) {
    const std::string message = SystemError(what, path);
    close(fd);
    unlink(temp.c_str());
    return Status::Error(message);
  };

  const char* data = bytes.data();
  std::size_t left = bytes.size();
  while (left > 0) {
    const ssize_t n = write(fd, data, left);
    if (n < 0) {
      if (errno == EINTR) continue;
      return fail("Cannot write");
    }
    data += n;
    left -= static_cast<std::size_t>(n);
  }
  if (fsync(fd) != 0) return fail("Cannot flush");
  if (close(fd) != 0) {
    const std::string message = SystemError("Cannot close", path);
    unlink(temp.c_str());
    return Status::Error(message);
  }
  if (rename(temp.c_str(), path.c_str()) != 0) {
    const std::string message = SystemError("Cannot replace", path);
    unlink(temp.c_str());
    return Status::Error(message);
  }
  // Make the rename itself durable.
  const int dir = open(FolderOf(path).c_str(), O_RDONLY | O_DIRECTORY);
  if (dir >= 0) {
    fsync(dir);
    close(dir);
  }
  RemoveLeftoverTemporaries(path);
  return Status::Ok();
}

}  // namespace platform
