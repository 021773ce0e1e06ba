#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/status.h"

namespace platform {

// A text file that grows by whole lines and stays bounded: once a line would
// take it past its limit, the file moves to "<path>.1", the older ones one
// place on ("<path>.1" to "<path>.2" ...), the oldest beyond kLogGenerations
// dropped, and a new file starts: a pass that logs many lines does not push
// out the earlier nights at once. Each line is appended in one write and the
// file is closed again, so `tail -f` and log rotation by others both work.
class LogFile {
 public:
  virtual ~LogFile() = default;
  // Appends `line` and a line feed; fails with the file and the reason.
  virtual Status AppendLine(const std::string& line) = 0;
};

inline constexpr std::uintmax_t kLogFileLimit = 1024 * 1024;
// Older files kept besides the current one: "<path>.1" to "<path>.5".
inline constexpr int kLogGenerations = 5;

std::unique_ptr<LogFile> MakeLogFile(const std::string& path,
                                     std::uintmax_t limitBytes = kLogFileLimit);

// The local date and time to the second, with the offset from UTC, so that a
// night across a daylight-saving change reads in order:
// "2026-12-24 17:30:00 +0100".
std::string LocalDateTime();

}  // namespace platform
