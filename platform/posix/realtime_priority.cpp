#include "platform/posix/realtime_priority.h"

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>

namespace platform {
namespace {

// Low among real-time priorities: ahead of every ordinary program, behind
// the kernel's own threads and audio servers' real-time threads.
constexpr int kDispatchPriority = 10;

}  // namespace

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
  int priority = kDispatchPriority;
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
  if (sched_setscheduler(0, SCHED_FIFO | SCHED_RESET_ON_FORK, &wanted) != 0) return false;
  savedPolicy_ = policy;
  savedParam_ = saved;
  raised_ = true;
  return true;
}

void RealtimePriority::Restore() {
  if (!raised_) return;
  sched_setscheduler(0, savedPolicy_, &savedParam_);
  raised_ = false;
}

}  // namespace platform
