#include "platform/log_file.h"

#include <windows.h>

#include <cstdio>
#include <ctime>

#include "platform/file_store.h"
#include "platform/local_clock_face.h"
#include "platform/win/wide_text.h"
#include "platform/win/win_handle.h"

namespace platform {
namespace {

using win::UniqueHandle;
using win::Widen;

class WinLogFile final : public LogFile {
 public:
  WinLogFile(std::string path, std::uintmax_t limitBytes)
      : path_(std::move(path)), limit_(limitBytes) {}

  Status AppendLine(const std::string& line) override {
    const std::string bytes = line + "\n";
    WIN32_FILE_ATTRIBUTE_DATA info{};
    if (GetFileAttributesExW(Widen(path_).c_str(), GetFileExInfoStandard, &info) &&
        (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
      const std::uintmax_t size =
          (static_cast<std::uintmax_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
      if (size > 0 && size + bytes.size() > limit_) Rotate();
    }
    // A pipe or a device put in the log's place is never opened: writing
    // to one could hold up the show.
    if (const Status openable = CheckOpenableFile(path_); !openable) {
      return Status::Error("The show log cannot be written: " + openable.message());
    }
    // FILE_APPEND_DATA alone: every write lands at the end, whoever else
    // appends; readers and a rotation by others may share the file.
    UniqueHandle file(CreateFileW(Widen(path_).c_str(), FILE_APPEND_DATA,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return Failure();
    if (!win::IsRegularFileHandle(file.get())) {
      return Status::Error("The show log cannot be written: \"" + path_ +
                           "\": it is not a regular file");
    }
    DWORD written = 0;
    if (!WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) ||
        written != bytes.size()) {
      return Failure();
    }
    return Status::Ok();
  }

 private:
  // A failed move leaves the file growing rather than losing the line.
  void Rotate() const {
    for (int older = kLogGenerations - 1; older >= 1; --older) {
      MoveFileExW(Widen(path_ + "." + std::to_string(older)).c_str(),
                  Widen(path_ + "." + std::to_string(older + 1)).c_str(),
                  MOVEFILE_REPLACE_EXISTING);
    }
    MoveFileExW(Widen(path_).c_str(), Widen(path_ + ".1").c_str(), MOVEFILE_REPLACE_EXISTING);
  }

  Status Failure() const {
    return Status::Error("The show log " + path_ +
                         " cannot be written: " + win::LastErrorMessage());
  }

  std::string path_;
  std::uintmax_t limit_;
};

// Days since 1970-01-01 of a proleptic Gregorian date.
std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

}  // namespace

std::unique_ptr<LogFile> MakeLogFile(const std::string& path, std::uintmax_t limitBytes) {
  return std::make_unique<WinLogFile>(path, limitBytes);
}

std::string LocalDateTime() {
  const std::time_t now = std::time(nullptr);
  const std::tm local = LocalClockFace(now);
  // Windows' strftime gives the zone's name for %z: the offset is the clock
  // face's lead over UTC.
  const std::int64_t wall =
      DaysFromCivil(local.tm_year + 1900, static_cast<unsigned>(local.tm_mon + 1),
                    static_cast<unsigned>(local.tm_mday)) *
          86400 +
      local.tm_hour * 3600 + local.tm_min * 60 + local.tm_sec;
  const long offset = static_cast<long>((wall - now) / 60);
  const long magnitude = offset < 0 ? -offset : offset;
  char text[40];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d %c%02ld%02ld",
                local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min,
                local.tm_sec, offset < 0 ? '-' : '+', magnitude / 60, magnitude % 60);
  return text;
}

}  // namespace platform
