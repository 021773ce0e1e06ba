#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/file_store.h"

namespace fakes {

// Writes real files (plainly, not atomically) so readers can read them back;
// can be told to fail every write, as a read-only folder would.
class FakeFileStore : public platform::FileStore {
 public:
  platform::Status ReplaceFile(const std::string& path, std::string_view bytes) override;

  std::string failWith;              // non-empty: every write fails with this message
  std::vector<std::string> written;  // paths, in order of the writes
};

}  // namespace fakes
