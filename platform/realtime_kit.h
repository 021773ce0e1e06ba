#pragma once

#include <cstdint>

#include "platform/status.h"

namespace platform {

// RealtimeKit: the system service that grants real-time scheduling to an
// ordinary user's thread, within limits of its own, asked over D-Bus. Holds
// no state between calls; each call reaches the service afresh.
class RealtimeKit {
 public:
  virtual ~RealtimeKit() = default;

  struct Limits {
    int maxPriority = 0;             // highest SCHED_FIFO priority it grants
    std::int64_t rttimeUsecMax = 0;  // RLIMIT_RTTIME a process must stay within
  };
  // The service's limits; an error (naming why) where it cannot be reached.
  virtual Result<Limits> QueryLimits() = 0;
  // Asks for SCHED_FIFO at `priority` for `thread` (a kernel thread id of
  // this process). An error gives the service's reason.
  virtual Status MakeThreadRealtime(std::uint64_t thread, std::uint32_t priority) = 0;
};

}  // namespace platform
