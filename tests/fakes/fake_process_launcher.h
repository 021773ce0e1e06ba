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
  // Asks `keepWaiting` up to `watchSteps` times before the program "ends";
  // a false answer stops it as the real launcher would.
  platform::Result<int> RunWatched(const std::vector<std::string>& argv,
                                   const platform::KeepWaiting& keepWaiting) override {
    for (int step = 0; keepWaiting && step < watchSteps; ++step) {
      ++watched;
      if (!keepWaiting()) {
        runs.push_back(argv);
        return platform::Result<int>::Error("The program " + argv.front() +
                                            " was stopped before it ended.");
      }
    }
    return Run(argv);
  }
  std::string LastErrorOutput() const override { return errorOutput; }

  std::vector<std::vector<std::string>> runs;
  std::string startError;  // non-empty: the program cannot be started
  int exitCode = 0;
  std::string errorOutput;  // what the program says on its error output
  std::function<void(const std::vector<std::string>&)> onRun;
  int watchSteps = 0;  // how long a watched program runs, in questions
  int watched = 0;     // questions asked
};

}  // namespace fakes
