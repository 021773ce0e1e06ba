#include "platform/audio/position_estimator.h"

#include <algorithm>

namespace platform {

void HandOverMailbox::Publish(std::int64_t frames, SteadyTime at) {
  const std::int64_t before = total_;
  total_ += frames;
  const auto s = sequence_.load(std::memory_order_relaxed);
  sequence_.store(s + 1, std::memory_order_relaxed);
  std::atomic_thread_fence(std::memory_order_release);
  before_.store(before, std::memory_order_relaxed);
  after_.store(total_, std::memory_order_relaxed);
  at_.store(at.time_since_epoch().count(), std::memory_order_relaxed);
  any_.store(true, std::memory_order_relaxed);
  sequence_.store(s + 2, std::memory_order_release);
}

HandOver HandOverMailbox::Latest() const {
  HandOver h;
  for (;;) {
    const auto s1 = sequence_.load(std::memory_order_acquire);
    h.framesBefore = before_.load(std::memory_order_relaxed);
    h.framesAfter = after_.load(std::memory_order_relaxed);
    h.at = SteadyTime(SteadyTime::duration(at_.load(std::memory_order_relaxed)));
    h.any = any_.load(std::memory_order_relaxed);
    std::atomic_thread_fence(std::memory_order_acquire);
    const auto s2 = sequence_.load(std::memory_order_relaxed);
    if (s1 == s2 && (s1 & 1) == 0) return h;
  }
}

void HandOverMailbox::Reset() {
  total_ = 0;
  const auto s = sequence_.load(std::memory_order_relaxed);
  sequence_.store(s + 1, std::memory_order_relaxed);
  std::atomic_thread_fence(std::memory_order_release);
  before_.store(0, std::memory_order_relaxed);
  after_.store(0, std::memory_order_relaxed);
  at_.store(0, std::memory_order_relaxed);
  any_.store(false, std::memory_order_relaxed);
  sequence_.store(s + 2, std::memory_order_release);
}

double PositionEstimator::FramesAt(const HandOver& latest, SteadyTime now) {
  if (!latest.any) return last_;
  // Negative while the hand-over is still in the device's buffers.
  const double elapsed = std::chrono::duration<double>(now - latest.at).count();
  const double estimate =
      std::min(static_cast<double>(latest.framesBefore) + elapsed * framesPerSecond_,
               static_cast<double>(latest.framesAfter));
  last_ = std::max(last_, estimate);
  return last_;
}

}  // namespace platform
