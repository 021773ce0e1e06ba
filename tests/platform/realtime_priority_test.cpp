#include "platform/posix/realtime_priority.h"

#include <sched.h>

#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "platform/posix/realtime_kit_bus.h"

namespace {

// RealtimeKit's answers, scripted (no priority at all: not there); what was
// asked of it, kept.
class FakeRealtimeKit : public platform::RealtimeKit {
 public:
  platform::Result<Limits> QueryLimits() override {
    if (limits.maxPriority < 0) {
      return platform::Result<Limits>::Error("no system bus: No such file or directory");
    }
    return limits;
  }
  platform::Status MakeThreadRealtime(std::uint64_t thread, std::uint32_t priority) override {
    asked += "thread " + std::to_string(thread) + " at " + std::to_string(priority) + ";";
    return refusal.empty() ? platform::Status::Ok() : platform::Status::Error(refusal);
  }

  Limits limits;
  std::string refusal, asked;
};

TEST(AskRealtimeKitTest, LimitsTheProcessFirstThenAsksWithinTheKitsPriorities) {
  const std::string denied = "org.freedesktop.DBus.Error.AccessDenied";
  const struct {
    const char* name;
    platform::RealtimeKit::Limits limits;
    std::string refusal;
    bool limitFails;
    std::int64_t limitAsked;  // -1: not asked
    std::string asked;
    const char* error;  // empty: granted
  } cases[] = {
      {"granted", {20, 200000}, "", false, 200000, "thread 4242 at 10;", ""},
      {"kit's highest is lower", {5, 50000}, "", false, 50000, "thread 4242 at 5;", ""},
      {"no rtkit", {-1, 0}, "", false, -1, "", "no system bus"},
      {"grants nothing", {0, 200000}, "", false, -1, "", "its highest is 0"},
      {"limit refused", {20, 200000}, "", true, 200000, "", "cannot limit"},
      {"kit refuses", {20, 200000}, denied, false, 200000, "thread 4242 at 10;", "AccessDenied"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FakeRealtimeKit kit;
    kit.limits = c.limits;
    kit.refusal = c.refusal;
    std::int64_t limitAsked = -1;
    const platform::Status asked = platform::AskRealtimeKit(kit, 4242, 10, [&](std::int64_t usec) {
      limitAsked = usec;
      return c.limitFails ? platform::Status::Error("cannot limit real-time CPU time: EPERM")
                          : platform::Status::Ok();
    });
    EXPECT_EQ(asked.ok(), std::string(c.error).empty()) << asked.message();
    EXPECT_NE(asked.message().find(c.error), std::string::npos) << asked.message();
    EXPECT_EQ(limitAsked, c.limitAsked);
    EXPECT_EQ(kit.asked, c.asked);
  }
}

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
