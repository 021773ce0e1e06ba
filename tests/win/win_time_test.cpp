#include <gtest/gtest.h>

#include <chrono>
#include <optional>

#include "calendar/local_time.h"
#include "calendar/windows_zone.h"
#include "platform/service_manager.h"
#include "platform/win/win_show_task.h"
#include "platform/win/win_timing.h"
#include "tests/calendar/time_zone.h"

namespace {

using calendar::Iso8601;

// Local times around the changes of the zones the shows run in, worked out
// by the Windows zone rules rather than TZ.
TEST(WindowsZoneTest, LocalTimeFollowsTheChosenZoneAcrossItsChanges) {
  const struct {
    const char* zone;
    std::int64_t moment;
    const char* local;
  } cases[] = {
      {"Europe/Amsterdam", 1774745999, "2026-03-29T01:59:59+01:00"},
      {"Europe/Amsterdam", 1774746000, "2026-03-29T03:00:00+02:00"},
      {"Europe/Amsterdam", 1792888200, "2026-10-25T02:30:00+02:00"},
      {"Europe/Amsterdam", 1792891800, "2026-10-25T02:30:00+01:00"},
      {"America/New_York", 1805007599, "2027-03-14T01:59:59-05:00"},
      {"America/New_York", 1805007600, "2027-03-14T03:00:00-04:00"},
      {"America/New_York", 1782907200, "2026-07-01T08:00:00-04:00"},
      {"UTC", 1782907200, "2026-07-01T12:00:00+00:00"},
      {"Europe/Amsterdam", -3600, "1970-01-01T00:00:00+01:00"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.zone) + " " + std::to_string(c.moment));
    calendar_test::ScopedTimeZone zone(c.zone);
    EXPECT_EQ(Iso8601(c.moment), c.local);
  }
}

TEST(WindowsZoneTest, SkippedAndRepeatedWallTimesResolveAsOnLinux) {
  calendar_test::ScopedTimeZone zone("Europe/Amsterdam");
  // 02:30 does not exist on the spring date: the first moment after the gap.
  EXPECT_EQ(Iso8601(calendar::LocalMoment({2026, 3, 29}, 2 * 3600 + 1800)),
            "2026-03-29T03:00:00+02:00");
  // 02:30 happens twice in autumn: the first one.
  EXPECT_EQ(Iso8601(calendar::LocalMoment({2026, 10, 25}, 2 * 3600 + 1800)),
            "2026-10-25T02:30:00+02:00");
}

// Unknown zone names change nothing; "" is the system's zone again, read at
// the moment of asking.
TEST(WindowsZoneTest, UnknownZoneIsRefusedAndEmptyMeansTheSystemsZone) {
  ASSERT_TRUE(calendar::UseWindowsZone("UTC"));
  EXPECT_FALSE(calendar::UseWindowsZone("Atlantis Standard Time"));
  EXPECT_EQ(calendar::WindowsUtcOffsetAt(1782907200), 0) << "the refused name left UTC in place";
  ASSERT_TRUE(calendar::UseWindowsZone(""));
  SYSTEMTIME local{}, utc{};
  ::GetLocalTime(&local);
  ::GetSystemTime(&utc);
  FILETIME l{}, u{};
  ::SystemTimeToFileTime(&local, &l);
  ::SystemTimeToFileTime(&utc, &u);
  const auto ticks = [](FILETIME f) {
    return static_cast<std::int64_t>((static_cast<std::uint64_t>(f.dwHighDateTime) << 32) |
                                     f.dwLowDateTime);
  };
  const std::int64_t systemOffset = (ticks(l) - ticks(u) + 5'000'000) / 10'000'000 / 60 * 60;
  EXPECT_EQ(calendar::WindowsUtcOffsetAt(std::time(nullptr)), systemOffset);
}

// The waiter never comes back early: the show's timing rests on that. How
// late it comes back is a figure for bench/, not a test.
TEST(PreciseWaiterTest, NeverReturnsBeforeTheTimeAsked) {
  platform::win::TimerResolution resolution;
  platform::win::PreciseWaiter waiter;
  for (const auto wait : {std::chrono::microseconds(0), std::chrono::microseconds(300),
                          std::chrono::microseconds(2500)}) {
    const auto until = std::chrono::steady_clock::now() + wait;
    waiter.SleepUntil(until);
    EXPECT_GE(std::chrono::steady_clock::now(), until) << wait.count() << " us";
  }
}

// A system whose waits wake a set time late, on a clock the test runs: what
// each step was asked and how long the thread spent awake.
struct SteppedSystem {
  using Clock = std::chrono::steady_clock;
  using us = std::chrono::microseconds;
  static constexpr us kSpinPause{1};
  us coarseLate{0};
  std::optional<us> fineLate;  // none: the system has no fine sleep
  // Set: the coarse wait is ended by something else after this long.
  std::optional<us> interruptAfter;
  Clock::time_point t{std::chrono::seconds(1)};
  us awake{0};
  int coarseWaits = 0;
  int fineSleeps = 0;

  platform::win::WaitSteps Steps() {
    platform::win::WaitSteps steps{
        .now = [this] { return t; },
        .coarse =
            [this](std::chrono::nanoseconds asked) {
              ++coarseWaits;
              if (interruptAfter && *interruptAfter < asked) {
                t += *interruptAfter;
                return true;
              }
              t += asked + coarseLate;
              return false;
            },
        .fine = {},
        .spin =
            [this] {
              t += kSpinPause;
              awake += kSpinPause;
            },
    };
    if (fineLate) {
      steps.fine = [this](std::chrono::nanoseconds asked) {
        ++fineSleeps;
        t += asked + *fineLate;
      };
    }
    return steps;
  }
};

// Once it has seen how late the system's waits wake, the waiter ends each
// wait on its moment with a short stretch awake; where the system's finest
// wait wakes later than that stretch may last, the stretch stays at its
// limit and the wait ends late by the rest, never by more.
TEST(DeadlineWaiterTest, LearnsTheSystemsLatenessAndSpendsABoundedStretchAwake) {
  using us = std::chrono::microseconds;
  const platform::win::DeadlineWaiter::Tuning tuning;
  const struct {
    const char* system;
    us coarseLate;
    std::optional<us> fineLate;
    us late;      // at most, once learned
    us awakeMax;  // per wait, once learned
  } cases[] = {
      {"Wine: server timers late by a millisecond, a precise host sleep", us(900), us(60), us(0),
       us(80)},
      {"Windows: a high-resolution timer, no fine sleep", us(150), std::nullopt, us(0), us(170)},
      {"an old Windows: a 2 ms timer, no fine sleep", us(2000), std::nullopt, us(1700), us(300)},
      {"a fine sleep later than the stretch may last", us(900), us(700), us(400), us(300)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.system);
    SteppedSystem machine{.coarseLate = c.coarseLate, .fineLate = c.fineLate, .interruptAfter = {}};
    platform::win::DeadlineWaiter waiter;
    const platform::win::WaitSteps steps = machine.Steps();
    for (int wait = 0; wait < 200; ++wait) {
      const auto when = machine.t + us(5000);
      const us awakeBefore = machine.awake;
      EXPECT_FALSE(waiter.WaitUntil(when, steps));
      ASSERT_GE(machine.t, when) << "wait " << wait << " came back early";
      EXPECT_LE(machine.awake - awakeBefore, tuning.spinLimit) << "wait " << wait;
      if (wait < 100) continue;  // still learning
      // On the moment, give or take the spin's last pause.
      EXPECT_LE(machine.t - when, c.late + SteppedSystem::kSpinPause) << "wait " << wait;
      EXPECT_LE(machine.awake - awakeBefore, c.awakeMax) << "wait " << wait;
    }
    EXPECT_EQ(machine.fineSleeps > 0, c.fineLate.has_value());
  }
}

// A stall (a busy machine) raises the leads only so far, and ordinary wakes
// bring them back down: one bad moment does not keep the thread in its
// finer steps for the rest of the show.
TEST(DeadlineWaiterTest, AStallRaisesTheLeadsWithinTheirLimitsAndPasses) {
  using us = std::chrono::microseconds;
  const platform::win::DeadlineWaiter::Tuning tuning;
  SteppedSystem machine{.coarseLate = us(900), .fineLate = us(60), .interruptAfter = {}};
  platform::win::DeadlineWaiter waiter;
  const platform::win::WaitSteps steps = machine.Steps();
  const auto waitSome = [&](int waits) {
    for (int i = 0; i < waits; ++i) waiter.WaitUntil(machine.t + us(5000), steps);
  };
  waitSome(100);
  const auto settledCoarse = waiter.CoarseLead(true);
  const auto settledSpin = waiter.SpinLead();
  EXPECT_LT(settledCoarse, tuning.coarseLeadLimit);

  machine.coarseLate = us(20000);
  waitSome(3);
  EXPECT_GT(waiter.CoarseLead(true), settledCoarse);
  EXPECT_LE(waiter.CoarseLead(true), tuning.coarseLeadLimit);
  machine.coarseLate = us(900);
  machine.fineLate = us(15000);
  waitSome(3);
  EXPECT_GT(waiter.SpinLead(), settledSpin);
  EXPECT_LE(waiter.SpinLead(), tuning.spinLimit);

  machine.coarseLate = us(900);
  machine.fineLate = us(60);
  waitSome(400);
  EXPECT_LE(waiter.CoarseLead(true), settledCoarse + us(50));
  EXPECT_LE(waiter.SpinLead(), settledSpin + us(10));
}

// Something else ending the coarse wait (Ctrl+C, a click) ends the whole
// wait at once; a moment already past is no wait at all.
TEST(DeadlineWaiterTest, AnInterruptOrAPastMomentEndsTheWaitAtOnce) {
  using us = std::chrono::microseconds;
  SteppedSystem machine{.coarseLate = us(900), .fineLate = us(60), .interruptAfter = us(1000)};
  platform::win::DeadlineWaiter waiter;
  const platform::win::WaitSteps steps = machine.Steps();
  const auto start = machine.t;
  EXPECT_TRUE(waiter.WaitUntil(start + us(5000), steps));
  EXPECT_EQ(machine.t, start + us(1000));
  EXPECT_EQ(machine.fineSleeps, 0);
  EXPECT_EQ(machine.awake, us(0));

  EXPECT_FALSE(waiter.WaitUntil(machine.t, steps));
  EXPECT_FALSE(waiter.WaitUntil(machine.t - us(300), steps));
  EXPECT_EQ(machine.t, start + us(1000));
  EXPECT_EQ(machine.coarseWaits, 1);
}

// The waiter's lateness estimate: up a good part of the way at a late wake,
// down slowly, never below zero nor above its cap.
TEST(WakeLatenessTest, RisesQuicklyFallsSlowlyAndStaysWithinItsBounds) {
  using us = std::chrono::microseconds;
  platform::win::WakeLateness late(us(100), us(1000));
  late.Add(us(500));
  EXPECT_GT(late.Value(), us(150));
  EXPECT_LT(late.Value(), us(500));
  const auto raised = late.Value();
  late.Add(us(0));
  EXPECT_LT(late.Value(), raised);
  EXPECT_GT(late.Value(), raised - us(20));
  for (int i = 0; i < 100; ++i) late.Add(us(50'000));
  EXPECT_EQ(late.Value(), us(1000));
  for (int i = 0; i < 5000; ++i) late.Add(us(-200));
  EXPECT_GE(late.Value(), us(0));
  EXPECT_LT(late.Value(), us(5));
}

TEST(MmcssDispatchPriorityTest, RaiseAndRestoreCanRepeat) {
  platform::win::MmcssDispatchPriority priority;
  for (int round = 0; round < 2; ++round) {
    const bool raised = priority.Raise();
    EXPECT_EQ(raised, priority.WhyNotRaised().empty()) << priority.WhyNotRaised();
    EXPECT_EQ(priority.Raise(), raised) << "a second Raise keeps the first one's answer";
    priority.Restore();
  }
}

// What the Task Scheduler is given: the show at this user's logon, at
// normal priority, no time limit, restarts, and paths that survive XML.
TEST(ShowTaskTest, DefinitionRunsTheShowAtLogonAndSurvivesAwkwardPaths) {
  const std::string xml = platform::win::ShowTaskXml(
      {"C:\\Shows & Co\\<bin>\\glimmer.exe", "C:\\Shows & Co\\<bin>", "PC\\Anne \"O'Hara\""});
  for (const char* part : {
           "<LogonTrigger>\n      <Enabled>true</Enabled>\n"
           "      <UserId>PC\\Anne &quot;O&apos;Hara&quot;</UserId>",
           "<Command>C:\\Shows &amp; Co\\&lt;bin&gt;\\glimmer.exe</Command>",
           "<Arguments>show</Arguments>",
           "<WorkingDirectory>C:\\Shows &amp; Co\\&lt;bin&gt;</WorkingDirectory>",
           "<Priority>4</Priority>",
           "<ExecutionTimeLimit>PT0S</ExecutionTimeLimit>",
           "<RestartOnFailure>\n      <Interval>PT1M</Interval>",
           "<StopIfGoingOnBatteries>false</StopIfGoingOnBatteries>",
           "<DisallowStartIfOnBatteries>false</DisallowStartIfOnBatteries>",
       }) {
    EXPECT_NE(xml.find(part), std::string::npos) << part << "\nin\n" << xml;
  }
}

TEST(ShowTaskTest, ThisProgramsTaskNamesItsExecutableAndFolder) {
  const platform::win::ShowTask task = platform::win::ShowTaskForThisProgram();
  EXPECT_EQ(task.program.substr(0, task.workingFolder.size() + 1), task.workingFolder + "\\");
  EXPECT_NE(task.program.find(".exe"), std::string::npos) << task.program;
  EXPECT_FALSE(task.user.empty());
  EXPECT_EQ(platform::ConnectServiceManager(), nullptr);
}

// Installing twice replaces the task; removing one that is not there says so.
TEST(ShowTaskTest, InstallReplacesAndUninstallSaysWhenThereIsNone) {
  const platform::win::ShowTask task = platform::win::ShowTaskForThisProgram();
  for (int round = 0; round < 2; ++round) {
    const platform::Status installed = platform::win::InstallShowTask(task);
    EXPECT_TRUE(installed) << installed.message();
  }
  const platform::Status removed = platform::win::UninstallShowTask();
  EXPECT_TRUE(removed) << removed.message();
  EXPECT_EQ(platform::win::UninstallShowTask().message(), "no show task is installed");
}

}  // namespace
