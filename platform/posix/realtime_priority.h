#pragma once

#include <sched.h>

#include "platform/dispatch_priority.h"

namespace platform {

// SCHED_FIFO for the calling thread, just above the ordinary real-time
// priority of audio threads' helpers, without inheriting it to programs the
// thread starts. Where it may not (no permission), Raise says so and changes
// nothing; a thread that already runs at real-time priority (a service's
// CPUSchedulingPolicy) keeps it.
class RealtimePriority final : public DispatchPriority {
 public:
  bool Raise() override;
  void Restore() override;

 private:
  bool raised_ = false;
  int savedPolicy_ = SCHED_OTHER;
  sched_param savedParam_{};
};

}  // namespace platform
