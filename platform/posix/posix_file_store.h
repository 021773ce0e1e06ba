#pragma once

#include "platform/file_store.h"

namespace platform {

// Temporary file in the same folder, write, fsync, rename over the target,
// fsync the folder. After a successful rename, temporaries of the same target
// that a killed earlier write left behind are removed.
class PosixFileStore final : public FileStore {
 public:
  Status ReplaceFile(const std::string& path, std::string_view bytes) override;
};

}  // namespace platform
