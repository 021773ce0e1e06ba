#pragma once

#include <atomic>
#include <functional>
#include <thread>

namespace watch {

// Work the show's thread hands off and looks in on at its yield points, so
// that a read of seconds holds up neither the lights nor the watchdog's
// pings. One job at a time.
class Worker {
 public:
  // Asks `keepGoing` between its steps, and ends soon after it says false.
  using Job = std::function<void(const std::function<bool()>& keepGoing)>;

  virtual ~Worker() = default;
  // Starts `job`; false, and nothing started, while the last one runs.
  virtual bool Start(Job job) = 0;
  // Whether a job is under way. Once false, whatever the job wrote is there
  // for the thread that asked.
  virtual bool Busy() = 0;
  // Asks the job under way to stop and waits for it to end.
  virtual void Stop() = 0;
};

// A thread of its own for each job.
class ThreadWorker final : public Worker {
 public:
  ThreadWorker() = default;
  ThreadWorker(const ThreadWorker&) = delete;
  ThreadWorker& operator=(const ThreadWorker&) = delete;
  ~ThreadWorker() override;

  bool Start(Job job) override;
  bool Busy() override;
  void Stop() override;
  // Waits for the job under way to end on its own (tests, benchmarks).
  void Wait();

 private:
  std::thread thread_;
  std::atomic<bool> stop_{false};
  std::atomic<bool> done_{true};
};

}  // namespace watch
