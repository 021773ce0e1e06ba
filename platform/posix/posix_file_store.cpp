#include "platform/posix/posix_file_store.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <string>
#include <string_view>

#include "platform/posix/unique_fd.h"

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

// A writer killed between creating its temporary file and the rename leaves
// that file behind. Once a later write of the same file has succeeded, those
// leftovers are only partial copies: remove them so crashes cannot pile up
// half-written files (up to a compiled sequence in size each) in the folder.
void RemoveLeftoverTemporaries(const std::string& path) {
  const std::string folder = FolderOf(path);
  const auto slash = path.find_last_of('/');
  const std::string prefix =
      (slash == std::string::npos ? path : path.substr(slash + 1)) + std::string(kTempSuffix);
  DIR* dir = opendir(folder.c_str());
  if (dir == nullptr) return;
  while (const dirent* entry = readdir(dir)) {
    const std::string_view name = entry->d_name;
    if (name.size() != prefix.size() + kTempRandomChars || !name.starts_with(prefix)) continue;
    const std::string_view random = name.substr(prefix.size());
    if (std::all_of(random.begin(), random.end(),
                    [](char c) { return std::isalnum(static_cast<unsigned char>(c)); })) {
      unlinkat(dirfd(dir), entry->d_name, 0);
    }
  }
  closedir(dir);
}

}  // namespace

Status PosixFileStore::ReplaceFile(const std::string& path, std::string_view bytes) {
  std::string temp = path + std::string(kTempSuffix) + std::string(kTempRandomChars, 'X');
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

Result<std::string> PosixFileStore::ReadWholeFile(const std::string& path,
                                                  std::uintmax_t limitBytes) {
  using R = Result<std::string>;
  const FileKind kind = KindOfPath(path);
  if (kind == FileKind::Missing) return R::Error("the file does not exist");
  if (const std::string reason = NotAFileReason(kind); !reason.empty()) return R::Error(reason);
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  if (!fd) return R::Error(std::strerror(errno));
  struct stat opened {};
  if (::fstat(fd.get(), &opened) != 0 || !S_ISREG(opened.st_mode)) {
    return R::Error("it is not a regular file");
  }
  std::string bytes;
  char chunk[65536];
  for (;;) {
    const ssize_t n = ::read(fd.get(), chunk, sizeof chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return R::Error(std::strerror(errno));
    if (n == 0) break;
    bytes.append(chunk, static_cast<std::size_t>(n));
    if (bytes.size() > limitBytes) return R::Error(LargerThanMessage(limitBytes));
  }
  return bytes;
}

}  // namespace platform
