#pragma once

#include <string>
#include <string_view>

#include "platform/status.h"

namespace platform {

// Writes the program's own files. Every write replaces the whole file
// atomically: a crash leaves the old file or the new one, never part of one.
class FileStore {
 public:
  virtual ~FileStore() = default;
  virtual Status ReplaceFile(const std::string& path, std::string_view bytes) = 0;
};

}  // namespace platform
