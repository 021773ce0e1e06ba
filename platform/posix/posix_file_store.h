#pragma once

#include "platform/file_store.h"

namespace platform {

// Temporary file in the same folder ("<file>.tmp-<pid>-XXXXXX", its own to
// each writer), write, fsync, rename over the target, fsync the folder. After
// a successful rename, temporaries of the same target that a killed earlier
// writer left behind are removed; those of writers still running stay.
class PosixFileStore final : public FileStore {
 public:
  Status ReplaceFile(const std::string& path, std::string_view bytes) override;
  // Looks before it opens, and opens without waiting: a pipe put in the
  // file's place between the two is still refused at once.
  Result<std::string> ReadWholeFile(const std::string& path, std::uintmax_t limitBytes) override;
};

}  // namespace platform
