#pragma once

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "platform/status.h"
#include "platform/utf8_path.h"

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace platform {

// What a path names, following links, as the one rule for reading sees it.
enum class FileKind { Missing, Regular, Folder, Pipe, Device, Socket, Other };

#ifdef _WIN32
// Windows opens its devices by name, in any folder and with any extension
// ("C:\shows\nul.txt" is the null device, "COM1" the serial port), and pipes
// and devices through the \\.\ namespace; the file system's status shows
// none of them. Nothing for an ordinary path.
inline std::optional<FileKind> WindowsDeviceKind(std::string_view path) {
  std::string p(path);
  for (char& c : p) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c == '/') c = '\\';
  }
  if (p.starts_with(R"(\\.\)") || p.starts_with(R"(\\?\)")) {
    const std::string_view rest = std::string_view(p).substr(4);
    if (rest.starts_with(R"(pipe\)")) return FileKind::Pipe;
    const bool drive = rest.size() >= 2 && rest[1] == ':';
    if (p[2] == '.' || (!drive && !rest.starts_with(R"(unc\)"))) return FileKind::Device;
  }
  const std::size_t last = p.find_last_of(R"(\:)");
  std::string base = p.substr(last == std::string::npos ? 0 : last + 1);
  base = base.substr(0, base.find('.'));
  while (!base.empty() && base.back() == ' ') base.pop_back();
  for (const char* name : {"con", "prn", "aux", "nul", "conin$", "conout$"}) {
    if (base == name) return FileKind::Device;
  }
  if (base.size() == 4 && (base.starts_with("com") || base.starts_with("lpt")) && base[3] >= '1' &&
      base[3] <= '9') {
    return FileKind::Device;
  }
  return std::nullopt;
}
#endif

inline FileKind KindOfPath(const std::string& path) {
  namespace fs = std::filesystem;
#ifdef _WIN32
  if (const std::optional<FileKind> device = WindowsDeviceKind(path)) return *device;
#endif
  std::error_code error;
  const fs::file_status status = fs::status(FilePath(path), error);
  switch (status.type()) {
    case fs::file_type::not_found:
    case fs::file_type::none:
      return FileKind::Missing;
    case fs::file_type::regular:
      return FileKind::Regular;
    case fs::file_type::directory:
      return FileKind::Folder;
    case fs::file_type::fifo:
      return FileKind::Pipe;
    case fs::file_type::block:
    case fs::file_type::character:
      return FileKind::Device;
    case fs::file_type::socket:
      return FileKind::Socket;
    default:
      return error ? FileKind::Missing : FileKind::Other;
  }
}

// The one wording of a path that is not a file to open: "it is a folder, not
// a file". Empty for a regular or missing file.
inline std::string NotAFileReason(FileKind kind) {
  switch (kind) {
    case FileKind::Missing:
    case FileKind::Regular:
      return {};
    case FileKind::Folder:
      return "it is a folder, not a file";
    case FileKind::Pipe:
      return "it is a pipe, not a file";
    case FileKind::Device:
      return "it is a device, not a file";
    case FileKind::Socket:
      return "it is a socket, not a file";
    case FileKind::Other:
      break;
  }
  return "it is not a regular file";
}

// Why a path that names no file is more than a missing file: a link to
// nothing, or links that lead back to themselves, are a mistake to be told,
// not a file left out. Empty where nothing is there at all.
inline std::string BrokenLinkReason(const std::string& path) {
  namespace fs = std::filesystem;
  std::error_code error;
  if (!fs::is_symlink(fs::symlink_status(FilePath(path), error))) return {};
  (void)fs::status(FilePath(path), error);
  if (error == std::errc::too_many_symbolic_link_levels) {
    return "it is a link that leads back to itself";
  }
  const fs::path target = fs::read_symlink(FilePath(path), error);
  if (error) return "it is a link to a file that does not exist";
  return "it is a link to \"" + PathText(target) + "\", which does not exist";
}

// The rule for every file the program opens to read or to append to (songs,
// compiled sequences, documents, its own files, show.log): a folder, a pipe
// or a device is refused before it is opened. A pipe would wait for a
// writer, a device may never end. Ok for a regular file and a missing one
// (opening it then says it is missing).
inline Status CheckOpenableFile(const std::string& path) {
  const std::string reason = NotAFileReason(KindOfPath(path));
  if (reason.empty()) return Status::Ok();
  return Status::Error("\"" + path + "\": " + reason);
}

inline std::string LargerThanMessage(std::uintmax_t limitBytes) {
  return "the file is larger than the " + std::to_string(limitBytes) + " bytes it may have";
}

// The whole of a regular file, at most `limitBytes` of it; the error says
// why ("it is a pipe, not a file"), for the caller to name the file. It looks
// before it opens and opens without waiting, so a pipe or a device put in
// the file's place between the two is still refused at once, and a file
// that keeps growing stops at the limit.
inline Result<std::string> ReadRegularFile(const std::string& path, std::uintmax_t limitBytes) {
  using R = Result<std::string>;
  const FileKind kind = KindOfPath(path);
  if (kind == FileKind::Missing) return R::Error("the file does not exist");
  if (const std::string reason = NotAFileReason(kind); !reason.empty()) return R::Error(reason);
  std::string bytes;
  char chunk[65536];
#ifdef _WIN32
  std::ifstream in(FilePath(path), std::ios::binary);
  if (!in) return R::Error("the file cannot be opened");
  while (in.read(chunk, sizeof chunk) || in.gcount() > 0) {
    bytes.append(chunk, static_cast<std::size_t>(in.gcount()));
    if (bytes.size() > limitBytes) return R::Error(LargerThanMessage(limitBytes));
  }
  if (in.bad()) return R::Error("the file could not be read to its end");
#else
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return R::Error(std::strerror(errno));
  struct Closer {
    int fd;
    ~Closer() { ::close(fd); }
  } const closer{fd};
  struct stat opened {};
  if (::fstat(fd, &opened) != 0 || !S_ISREG(opened.st_mode)) {
    return R::Error("it is not a regular file");
  }
  for (;;) {
    const ssize_t n = ::read(fd, chunk, sizeof chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return R::Error(std::strerror(errno));
    if (n == 0) break;
    bytes.append(chunk, static_cast<std::size_t>(n));
    if (bytes.size() > limitBytes) return R::Error(LargerThanMessage(limitBytes));
  }
#endif
  return bytes;
}

// A settings file is a few lines the operator writes by hand.
inline constexpr std::uintmax_t kLargestSettingsFile = 256 * 1024;

// A file of settings the operator may leave out: its text, empty when there
// is no such file; anything else that keeps it from being read is an error
// that names the file and says why.
inline Result<std::string> ReadOptionalFile(const std::string& path, std::uintmax_t limitBytes) {
  if (KindOfPath(path) == FileKind::Missing) {
    const std::string broken = BrokenLinkReason(path);
    if (broken.empty()) return std::string();
    return Result<std::string>::Error("\"" + path + "\" cannot be read: " + broken);
  }
  Result<std::string> read = ReadRegularFile(path, limitBytes);
  if (!read)
    return Result<std::string>::Error("\"" + path + "\" cannot be read: " + read.message());
  return read;
}

// The lines of a text file of one value per line, the way it was written:
// CR LF ends a line, a bare LF is accepted too (a file edited elsewhere), and
// a last line without a line end still counts, as it stands.
inline std::vector<std::string> SplitTextLines(std::string_view bytes) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < bytes.size()) {
    std::size_t end = bytes.find('\n', start);
    const bool terminated = end != std::string_view::npos;
    if (!terminated) end = bytes.size();
    std::size_t stop = end;
    if (terminated && stop > start && bytes[stop - 1] == '\r') --stop;
    lines.emplace_back(bytes.substr(start, stop - start));
    start = end + 1;
  }
  return lines;
}

// The program's own files. Every write replaces the whole file atomically: a
// crash leaves the old file or the new one, never part of one. Every read
// takes the whole file up to a size, by the rule above.
class FileStore {
 public:
  virtual ~FileStore() = default;
  virtual Status ReplaceFile(const std::string& path, std::string_view bytes) = 0;
  virtual Result<std::string> ReadWholeFile(const std::string& path, std::uintmax_t limitBytes) {
    return ReadRegularFile(path, limitBytes);
  }
};

}  // namespace platform
