#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/status.h"

namespace platform {

// How a program in the background ended.
struct ChildExit {
  bool signalled = false;  // killed by a signal rather than exiting
  int code = 0;            // exit code, or the signal's number
};

// A program running beside us that we never wait for: the caller polls it at
// moments of its own choosing and kills it when it takes too long.
class ChildProcess {
 public:
  virtual ~ChildProcess() = default;
  // Collects what it wrote (standard output and error together) and tells
  // whether it has ended. Never blocks.
  virtual std::optional<ChildExit> Poll() = 0;
  // What it wrote since the last call.
  virtual std::string TakeOutput() = 0;
  // Kills it and everything it started; a later Poll reports the end.
  virtual void Kill() = 0;
};

class ChildStarter {
 public:
  virtual ~ChildStarter() = default;
  // Starts argv[0] (looked up on PATH when it has no "/") with the other
  // arguments, without a shell and with nothing on its standard input. An
  // error says why it could not start.
  virtual Result<std::unique_ptr<ChildProcess>> Start(const std::vector<std::string>& argv) = 0;
};

}  // namespace platform
