#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/process_launcher.h"

namespace fakes {

// Records each program run; `onRun` can act as the program would (for
// example, write the files an extractor would extract).
class FakeProcessLauncher : public platform::ProcessLauncher {
 public:
  platform::Result<int> Run(const std::vector<std::string>& argv) override {
    runs.push_back(argv);
    if (!startError.empty()) return platform::Result<int>::Error(startError);
    if (onRun) onRun(argv);
    return exitCode;
  }
  std::string LastErrorOutput() const override { return errorOutput; }

  std::vector<std::vector<std::string>> runs;
  std::string startError;  // non-empty: the program cannot be started
  int exitCode = 0;
  std::string errorOutput;  // what the program says on its error output
  std::function<void(const std::vector<std::string>&)> onRun;
};

}  // namespace fakes
