#pragma once

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>

namespace platform {

// A stop asked of a thread, which the thread can also wait on.
//
// The audio threads keep to a mutex and a condition variable here rather
// than std::jthread's stop callbacks: the MinGW build's C++ library parks a
// thread that drops a stop callback on a semaphore whose wake-up can be lost,
// and a song's end then hung the window for good under Wine.
class StopFlag {
 public:
  void Request() {
    {
      const std::lock_guard lock(mutex_);
      requested_ = true;
    }
    changed_.notify_all();
  }
  bool Requested() const {
    const std::lock_guard lock(mutex_);
    return requested_;
  }
  // Waits until a stop is asked or `timeout` has passed; true when asked.
  template <class Rep, class Period>
  bool WaitFor(std::chrono::duration<Rep, Period> timeout) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [this] { return requested_; });
  }

 private:
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  bool requested_ = false;
};

// A thread given a StopFlag, asked to stop and joined when it goes.
class StoppableThread {
 public:
  StoppableThread() = default;
  // `body(StopFlag&)` runs on the new thread.
  template <class Body>
  explicit StoppableThread(Body body) : stop_(std::make_unique<StopFlag>()) {
    thread_ = std::thread([body = std::move(body), flag = stop_.get()]() mutable { body(*flag); });
  }
  ~StoppableThread() { StopAndJoin(); }
  StoppableThread(const StoppableThread&) = delete;
  StoppableThread& operator=(const StoppableThread&) = delete;
  StoppableThread(StoppableThread&&) noexcept = default;
  StoppableThread& operator=(StoppableThread&& other) noexcept {
    StopAndJoin();
    stop_ = std::move(other.stop_);
    thread_ = std::move(other.thread_);
    return *this;
  }

  bool Running() const { return thread_.joinable(); }
  void RequestStop() {
    if (stop_ != nullptr) stop_->Request();
  }
  void Join() {
    if (thread_.joinable()) thread_.join();
  }
  void StopAndJoin() {
    RequestStop();
    Join();
  }

 private:
  // On the heap, so the running thread's flag stays where it is when this
  // object moves.
  std::unique_ptr<StopFlag> stop_;
  std::thread thread_;
};

}  // namespace platform
