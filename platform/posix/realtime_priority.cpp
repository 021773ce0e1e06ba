#include "platform/posix/realtime_priority.h"

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/posix/realtime_kit_bus.h"

namespace platform {
namespace {

// RealtimeKit grants only to a process whose real-time CPU limit lies within
// its own: above it (or unlimited, the default) it refuses.
Status LimitRealtimeCpu(std::int64_t usec) {
  rlimit limit{};
  if (getrlimit(RLIMIT_RTTIME, &limit) != 0) return Status::Error(std::strerror(errno));
  const auto most = static_cast<rlim_t>(usec);
  if (limit.rlim_max != RLIM_INFINITY && limit.rlim_max <= most) return Status::Ok();
  limit.rlim_max = most;
  limit.rlim_cur = std::min(limit.rlim_cur, most);
  if (setrlimit(RLIMIT_RTTIME, &limit) != 0) {
    return Status::Error(std::string("cannot limit real-time CPU time: ") + std::strerror(errno));
  }
  return Status::Ok();
}

}  // namespace

RealtimePriority::RealtimePriority() : RealtimePriority(SystemBusRealtimeKit()) {}
RealtimePriority::RealtimePriority(std::unique_ptr<RealtimeKit> kit) : kit_(std::move(kit)) {}
RealtimePriority::~RealtimePriority() = default;

bool RealtimePriority::Raise() {
  if (raised_) return true;
  // 0: the calling thread.
  const int policy = sched_getscheduler(0);
  if (policy < 0) return false;
  if ((policy & ~SCHED_RESET_ON_FORK) == SCHED_FIFO ||
      (policy & ~SCHED_RESET_ON_FORK) == SCHED_RR) {
    return true;  // already real-time: left as it is
  }
  sched_param saved{};
  sched_getparam(0, &saved);
  int priority = kDispatchRealtimePriority;
  // A user with an RLIMIT_RTPRIO allowance may use up to it (and may first
  // raise the soft limit to the hard one).
  if (rlimit limit{}; getrlimit(RLIMIT_RTPRIO, &limit) == 0 && limit.rlim_max != RLIM_INFINITY &&
                      limit.rlim_max > 0 && geteuid() != 0) {
    if (limit.rlim_cur < limit.rlim_max) {
      limit.rlim_cur = limit.rlim_max;
      setrlimit(RLIMIT_RTPRIO, &limit);
    }
    priority = std::min<int>(priority, static_cast<int>(limit.rlim_max));
  }
  sched_param wanted{};
  wanted.sched_priority = priority;
  if (sched_setscheduler(0, SCHED_FIFO | SCHED_RESET_ON_FORK, &wanted) != 0) {
    const std::string refused = std::strerror(errno);
    if (!kit_) {
      if (whyNot_.empty()) whyNot_ = "real-time priority refused (" + refused + ")";
      return false;
    }
    const Status asked =
        AskRealtimeKit(*kit_, static_cast<std::uint64_t>(gettid()), priority, LimitRealtimeCpu);
    // RealtimeKit hands out round-robin unless told otherwise; for a thread
    // that is alone at its priority that is the same as first-in first-out.
    const int now = sched_getscheduler(0);
    const int granted = now & ~SCHED_RESET_ON_FORK;
    if (!asked || now < 0 || (granted != SCHED_FIFO && granted != SCHED_RR)) {
      whyNot_ = "real-time priority refused (" + refused + "), and by RealtimeKit: " +
                (asked ? std::string("the thread is still not real-time") : asked.message());
      // Asking again at every entry would only repeat the answer.
      kit_.reset();
      return false;
    }
  }
  savedPolicy_ = policy;
  savedParam_ = saved;
  raised_ = true;
  return true;
}

void RealtimePriority::Restore() {
  if (!raised_) return;
  // An ordinary user may not drop the reset-on-fork flag RealtimeKit set;
  // back to the old policy with the flag kept, then.
  if (sched_setscheduler(0, savedPolicy_, &savedParam_) != 0) {
    sched_setscheduler(0, savedPolicy_ | SCHED_RESET_ON_FORK, &savedParam_);
  }
  raised_ = false;
}

}  // namespace platform
