#pragma once

#include <sched.h>

#include <memory>
#include <string>

#include "platform/dispatch_priority.h"
#include "platform/realtime_kit.h"

namespace platform {

// The real-time priority the dispatch thread asks for: low among real-time
// priorities, ahead of every ordinary program, behind the kernel's own
// threads and audio servers' real-time threads.
inline constexpr int kDispatchRealtimePriority = 10;

// SCHED_FIFO for the calling thread, just above the ordinary real-time
// priority of audio threads' helpers, without inheriting it to programs the
// thread starts. Where it may not (no permission), Raise says so and changes
// nothing; a thread that already runs at real-time priority (a service's
// CPUSchedulingPolicy) keeps it.
//
// Where the system refuses an ordinary user, RealtimeKit is asked instead
// (the system bus's, unless another is given); where it is absent or
// refuses too, it is not asked again by this object.
class RealtimePriority final : public DispatchPriority {
 public:
  RealtimePriority();
  explicit RealtimePriority(std::unique_ptr<RealtimeKit> kit);
  ~RealtimePriority() override;

  bool Raise() override;
  void Restore() override;
  std::string WhyNotRaised() const override { return whyNot_; }

 private:
  std::unique_ptr<RealtimeKit> kit_;
  std::string whyNot_;
  bool raised_ = false;
  int savedPolicy_ = SCHED_OTHER;
  sched_param savedParam_{};
};

}  // namespace platform
