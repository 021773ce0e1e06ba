#include "platform/posix/realtime_priority.h"

#include <sched.h>

#include <thread>

#include <gtest/gtest.h>

namespace {

// On a thread of its own, so the test program keeps its scheduling.
TEST(RealtimePriority, RaisesWhereAllowedAndPutsTheThreadBackOrChangesNothing) {
  std::thread([] {
    const int before = sched_getscheduler(0);
    ASSERT_EQ(before, SCHED_OTHER);
    platform::RealtimePriority priority;
    const bool raised = priority.Raise();
    const int during = sched_getscheduler(0);
    if (raised) {
      EXPECT_EQ(during & ~SCHED_RESET_ON_FORK, SCHED_FIFO);
      EXPECT_NE(during & SCHED_RESET_ON_FORK, 0)
          << "programs started from the show would inherit it";
    } else {
      EXPECT_EQ(during, before);
    }
    EXPECT_TRUE(priority.Raise() == raised) << "a second Raise changed the answer";
    priority.Restore();
    EXPECT_EQ(sched_getscheduler(0), before);
    priority.Restore();
    EXPECT_EQ(sched_getscheduler(0), before);
  }).join();
}

}  // namespace
