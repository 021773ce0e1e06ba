#include <gtest/gtest.h>

#include <chrono>

#include "calendar/local_time.h"
#include "calendar/windows_zone.h"
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

}  // namespace
