#include "watch/worker.h"

#include <utility>

namespace watch {

ThreadWorker::~ThreadWorker() {
  Stop();
}

bool ThreadWorker::Start(Job job) {
  if (Busy()) return false;
  stop_.store(false);
  done_.store(false);
  thread_ = std::thread([this, job = std::move(job)] {
    job([this] { return !stop_.load(std::memory_order_relaxed); });
    done_.store(true, std::memory_order_release);
  });
  return true;
}

bool ThreadWorker::Busy() {
  if (!done_.load(std::memory_order_acquire)) return true;
  // Ended: joining costs nothing now, and frees the thread.
  if (thread_.joinable()) thread_.join();
  return false;
}

void ThreadWorker::Stop() {
  stop_.store(true);
  Wait();
}

void ThreadWorker::Wait() {
  if (thread_.joinable()) thread_.join();
}

}  // namespace watch
