#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/status.h"

namespace platform {

// Asked about ten times a second while a program runs; false ends it.
using KeepWaiting = std::function<bool()>;

// Starts a program without any shell and waits for it.
class ProcessLauncher {
 public:
  virtual ~ProcessLauncher() = default;
  // argv[0] is the program's path. Returns its exit code, or an error when it
  // could not be started. Waits without a time limit.
  virtual Result<int> Run(const std::vector<std::string>& argv) = 0;
  // The same, asking `keepWaiting` while the program runs (a caller lets
  // its window's events run there, and keeps its own time limit). When it
  // answers false the program is ended (SIGTERM, then SIGKILL if it does
  // not go) and the result is an error saying it was stopped.
  virtual Result<int> RunWatched(const std::vector<std::string>& argv,
                                 const KeepWaiting& keepWaiting) {
    (void)keepWaiting;
    return Run(argv);
  }
  // The end of what the last program run wrote to its error output (it also
  // reaches ours), so that a caller can say why the program failed.
  virtual std::string LastErrorOutput() const { return {}; }
};

}  // namespace platform
