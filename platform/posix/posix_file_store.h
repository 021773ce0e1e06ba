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
};

}  // namespace platform
