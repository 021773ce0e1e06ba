#pragma once

#include <string>
#include <vector>

#include "platform/status.h"

namespace platform {

// Starts a program without any shell and waits for it, without a time limit.
class ProcessLauncher {
 public:
  virtual ~ProcessLauncher() = default;
  // argv[0] is the program's path. Returns its exit code, or an error when it
  // could not be started.
  virtual Result<int> Run(const std::vector<std::string>& argv) = 0;
  // The end of what the last program run wrote to its error output (it also
  // reaches ours), so that a caller can say why the program failed.
  virtual std::string LastErrorOutput() const { return {}; }
};

}  // namespace platform
