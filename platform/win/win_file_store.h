#pragma once

#include "platform/file_store.h"

namespace platform {

// A temporary file beside the target ("<file>.tmp-<pid>-<n>"), written and
// flushed to the disk, then moved over the target with MoveFileExW
// (replace, write through): a crash leaves the old file or the new one.
class WinFileStore final : public FileStore {
 public:
  Status ReplaceFile(const std::string& path, std::string_view bytes) override;
  // Refuses a folder, a pipe or a device before opening, and checks again
  // on the handle it opened.
  Result<std::string> ReadWholeFile(const std::string& path, std::uintmax_t limitBytes) override;
};

}  // namespace platform
