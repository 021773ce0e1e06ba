#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/posix/realtime_kit_bus.h"

namespace {

// RealtimeKit's answers, scripted; what was asked of it, kept.
class FakeRealtimeKit : public platform::RealtimeKit {
 public:
  platform::Result<Limits> QueryLimits() override {
    if (!present)
      return platform::Result<Limits>::Error("no system bus: No such file or directory");
    return limits;
  }
  platform::Status MakeThreadRealtime(std::uint64_t thread, std::uint32_t priority) override {
    requests.push_back({thread, priority});
    if (!refusal.empty()) return platform::Status::Error(refusal);
    return platform::Status::Ok();
  }

  bool present = true;
  Limits limits{20, 200000};
  std::string refusal;
  struct Request {
    std::uint64_t thread;
    std::uint32_t priority;
  };
  std::vector<Request> requests;
};

struct Case {
  const char* name;
  bool present;
  platform::RealtimeKit::Limits limits;
  std::string refusal;
  bool limitFails;
  // Expected
  bool ok;
  std::int64_t limitAsked;     // -1: not asked
  std::int64_t priorityAsked;  // -1: nothing requested
  const char* errorPart;
};

TEST(AskRealtimeKitTest, LimitsTheProcessFirstThenAsksWithinTheKitsPriorities) {
  const Case cases[] = {
      {"granted", true, {20, 200000}, "", false, true, 200000, 10, ""},
      {"kit's highest is lower", true, {5, 50000}, "", false, true, 50000, 5, ""},
      {"no rtkit", false, {}, "", false, false, -1, -1, "no system bus"},
      {"grants nothing", true, {0, 200000}, "", false, false, -1, -1, "its highest is 0"},
      {"limit refused", true, {20, 200000}, "", true, false, 200000, -1, "cannot limit"},
      {"kit refuses",
       true,
       {20, 200000},
       "org.freedesktop.DBus.Error.AccessDenied",
       false,
       false,
       200000,
       10,
       "AccessDenied"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FakeRealtimeKit kit;
    kit.present = c.present;
    kit.limits = c.limits;
    kit.refusal = c.refusal;
    std::int64_t limitAsked = -1;
    const platform::Status asked = platform::AskRealtimeKit(kit, 4242, 10, [&](std::int64_t usec) {
      limitAsked = usec;
      return c.limitFails ? platform::Status::Error("cannot limit real-time CPU time: EPERM")
                          : platform::Status::Ok();
    });
    EXPECT_EQ(asked.ok(), c.ok) << asked.message();
    EXPECT_EQ(limitAsked, c.limitAsked);
    if (c.priorityAsked < 0) {
      EXPECT_TRUE(kit.requests.empty());
    } else {
      ASSERT_EQ(kit.requests.size(), 1U);
      EXPECT_EQ(kit.requests[0].thread, 4242U);
      EXPECT_EQ(static_cast<std::int64_t>(kit.requests[0].priority), c.priorityAsked);
    }
    if (!c.ok) {
      EXPECT_NE(asked.message().find(c.errorPart), std::string::npos) << asked.message();
    }
  }
}

}  // namespace
