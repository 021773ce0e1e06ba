#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>

namespace platform {

// The sound card takes audio in callback-sized steps (about 10 to 25 ms).
// Counting the frames handed over gives an exact but stepped position, and one
// that runs ahead of the speaker by whatever the device and the audio server
// still hold. Each callback therefore says when its first frame will be heard;
// between callbacks the position runs on with the steady clock from there,
// never past what has been handed over and never backwards.

using SteadyTime = std::chrono::steady_clock::time_point;

// One audio callback as seen from the position's side.
struct HandOver {
  std::int64_t framesBefore = 0;  // handed over before this callback
  std::int64_t framesAfter = 0;   // handed over including this callback
  SteadyTime at{};                // when frame `framesBefore` leaves the speaker
  bool any = false;               // false until the first callback
};

// Carries the latest hand-over from the audio thread to the thread that asks
// for the position, without a lock (a sequence lock: the audio callback must
// never wait for the user-interface thread).
class HandOverMailbox {
 public:
  // Audio thread only: `frames` more frames handed over, the first of them
  // heard at `at` (in the future by the device's and server's latency).
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

  // The frames heard by `now`: the start of the latest hand-over plus the
  // time since it is heard (less while it is still on its way), capped at its
  // end, never below 0 and never less than an earlier answer.
  double FramesAt(const HandOver& latest, SteadyTime now);
  void Reset() { last_ = 0.0; }

 private:
  double framesPerSecond_;
  double last_ = 0.0;
};

}  // namespace platform
