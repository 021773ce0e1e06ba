#include "platform/posix/posix_file_store.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

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

}  // namespace

Status PosixFileStore::ReplaceFile(const std::string& path, std::string_view bytes) {
  std::string temp = path + ".tmpXXXXXX";
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
  return Status::Ok();
}

}  // namespace platform
