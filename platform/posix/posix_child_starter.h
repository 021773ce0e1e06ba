#pragma once

#include "platform/child_process.h"

namespace platform {

// Background programs through posix_spawn, each in a process group of its
// own so that a kill reaches whatever it started, with the signal mask and
// handlers a fresh program expects (the show blocks SIGINT and SIGTERM).
class PosixChildStarter final : public ChildStarter {
 public:
  Result<std::unique_ptr<ChildProcess>> Start(const std::vector<std::string>& argv) override;
};

}  // namespace platform
