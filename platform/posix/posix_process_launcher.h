#pragma once

#include <string>

#include "platform/process_launcher.h"

namespace platform {

// Runs a program with posix_spawn: no shell, the caller's environment,
// current folder and open descriptors (as inheritance on Windows would).
// A program named without a "/" is looked up on PATH.
//
// Exit: a program that exits gives its exit code (0 to 255). A program that
// is killed by a signal gives an error naming the program and the signal,
// since no exit code exists then and a made-up number would hide the crash
// from a caller that ignores exit codes.
class PosixProcessLauncher final : public ProcessLauncher {
 public:
  Result<int> Run(const std::vector<std::string>& argv) override;
  Result<int> RunWatched(const std::vector<std::string>& argv,
                         const KeepWaiting& keepWaiting) override;
  std::string LastErrorOutput() const override { return lastErrorOutput_; }

 private:
  std::string lastErrorOutput_;
};

}  // namespace platform
