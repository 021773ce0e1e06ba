#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>

namespace platform {

// SDL takes audio in callback-sized steps (about 23 ms at 44.1 kHz). Counting
// the frames handed over gives an exact but stepped position; the show player
// needs a smooth one, so between callbacks the position runs on with the
// steady clock, never past what has been handed over and never backwards.

using SteadyTime = std::chrono::steady_clock::time_point;

// One audio callback as seen from the position's side.
struct HandOver {
  std::int64_t framesBefore = 0;  // handed over before this callback
  std::int64_t framesAfter = 0;   // handed over including this callback
  SteadyTime at{};
  bool any = false;  // false until the first callback
};

// Carries the latest hand-over from the audio thread to the thread that asks
// for the position, without a lock (a sequence lock: the audio callback must
// never wait for the user-interface thread).
class HandOverMailbox {
 public:
  // Audio thread only: `frames` more frames handed over at `at`.
  void Publish(std::int64_t frames, SteadyTime at);
  // Any thread.
  HandOver Latest() const;
  // Only while no callback runs.
  void Reset();

 private:
  std::atomic<std::uint64_t> sequence_{0};
  std::atomic<std::int64_t> before_{0};
  std::atomic<std::int64_t> after_{0};
  std::atomic<SteadyTime::rep> at_{0};
  std::atomic<bool> any_{false};
  std::int64_t total_ = 0;  // audio thread's running count
};

// Turns hand-overs into a smooth position in frames. Used by one thread.
class PositionEstimator {
 public:
  explicit PositionEstimator(double framesPerSecond) : framesPerSecond_(framesPerSecond) {}

  // The frames played by `now`: the start of the latest hand-over plus the
  // time since it, capped at its end, and never less than an earlier answer.
  double FramesAt(const HandOver& latest, SteadyTime now);
  void Reset() { last_ = 0.0; }

 private:
  double framesPerSecond_;
  double last_ = 0.0;
};

}  // namespace platform
