#pragma once

#include <string>

namespace platform {

// Lets the show's dispatch run ahead of ordinary programs while a song plays,
// where the system allows it (as root, with an RLIMIT_RTPRIO allowance, or in
// a service started with a real-time CPUSchedulingPolicy). A thread raised
// this way must never spin: ordinary programs would get no core at all.
// Lifecycle: Raise, then Restore on the same thread; Raise may be called
// again after Restore.
class DispatchPriority {
 public:
  virtual ~DispatchPriority() = default;
  // Raises the calling thread; false, and nothing changed, where the system
  // does not allow it.
  virtual bool Raise() = 0;
  // Puts the calling thread back as it was before Raise.
  virtual void Restore() = 0;
  // After a Raise that returned false: why, for the show log.
  virtual std::string WhyNotRaised() const { return {}; }
};

}  // namespace platform
