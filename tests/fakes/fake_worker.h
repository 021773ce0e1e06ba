#pragma once

#include <functional>
#include <optional>

#include "watch/worker.h"

namespace fakes {

// A worker on the test's own thread: a job runs inside Start, or, while
// `hold` is set, only when the test says Finish, so the test sees the show
// go on while a job is under way.
class FakeWorker : public watch::Worker {
 public:
  bool Start(Job job) override {
    if (held) return false;
    ++started;
    if (hold) {
      held = std::move(job);
    } else {
      job([this] { return !stopped; });
    }
    return true;
  }
  bool Busy() override { return held.has_value(); }
  void Stop() override {
    stopped = true;
    Finish();
  }
  // Runs the held job to its end.
  void Finish() {
    if (!held) return;
    const Job job = std::move(*held);
    held.reset();
    job([this] { return !stopped; });
  }

  bool hold = false;
  bool stopped = false;
  int started = 0;
  std::optional<Job> held;
};

}  // namespace fakes
