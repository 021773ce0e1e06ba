#include "watch/show_health.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <tuple>
#include <vector>

namespace {

using watch::ShowHealth;

TEST(ShowHealth, AlertsAreCountedFromTheGivenStampAndTheLogBeforeThisRunCounts) {
  ShowHealth health;
  health.Seed(
      "2026-12-05 18:00:00 Alert summary: 300 of 330 min\r\n"
      "2026-12-06 17:20:00 Check before the night: 1 problem: the serial port: gone\n"
      "2026-12-06 17:20:00 Alert check-failed: the serial port: gone\n"
      "2026-12-06 17:31:00 Alert missed-start: no song within a minute\n"
      "not a line of the log\n"
      "2026-12-06 17:32:00 Alert without a colon\n");
  health.Written("2026-12-07 09:00:00 +0100 Alert restarted: the show came back");

  std::vector<std::string> events;
  for (const auto& alert : health.AlertsSince("2026-12-06 09:00:00"))
    events.push_back(alert.at + " " + alert.event + "|" + alert.text);
  EXPECT_EQ(events,
            (std::vector<std::string>{"2026-12-06 17:20:00 check-failed|the serial port: gone",
                                      "2026-12-06 17:31:00 missed-start|no song within a minute",
                                      "2026-12-07 09:00:00 restarted|the show came back"}));
  EXPECT_EQ(health.AlertsSince("2026-12-07 09:00:01").size(), 0u);
  ASSERT_TRUE(health.LastCheck());
  EXPECT_EQ(health.LastCheck()->at, "2026-12-06 17:20:00");
  EXPECT_EQ(health.LastCheck()->result, "Check before the night: 1 problem: the serial port: gone");

  health.Written(
      "2026-12-07 17:20:00 Check before the night: all well (2 entries, serial port, "
      "disk, clock)");
  EXPECT_EQ(health.LastCheck()->at, "2026-12-07 17:20:00");
}

TEST(ShowHealth, KeepsOnlyTheNewestAlerts) {
  ShowHealth health;
  for (std::size_t i = 0; i < ShowHealth::kAlertsKept + 5; ++i) {
    health.Written("2026-12-07 10:00:00 Alert port-lost: " + std::to_string(i));
  }
  const auto kept = health.AlertsSince("2026-12-07 00:00:00");
  ASSERT_EQ(kept.size(), ShowHealth::kAlertsKept);
  EXPECT_EQ(kept.front().text, "5");
  EXPECT_EQ(kept.back().text, std::to_string(ShowHealth::kAlertsKept + 4));
}

TEST(ShowHealth, TheLineIsKnownOnceAnEntryPlayedAndEachShowStartsAfresh) {
  const std::string late = "Entry 2 line late: up to 80 ms at 1:05 at 56000 baud\n";
  // The events written in this run, one a line; whether the line is known,
  // whether it is well, and a part of its summary.
  const std::tuple<const char*, std::string, bool, bool, std::string> cases[] = {
      {"nothing played yet", "Show started (Start button)\nEntry 1 started: A\n", false, true, ""},
      {"an entry played through",
       "Show started (Start button)\nEntry 1 started: A\nEntry 1 finished\n", true, true,
       "on time"},
      {"an entry fell behind", "Show started (Start button)\n" + late + "Entry 2 finished\n", true,
       false, "1 entry fell visibly behind"},
      {"two fell behind", late + late, true, false, "2 entries fell visibly behind"},
      {"a new show forgets the last one's lateness",
       late + "Show stopped (Stop button)\nShow started (phone page)\n", false, true, ""},
      {"the port lost, before anything played",
       "Show started (autostart)\nPort COM1 lost: the device went away\n", true, false,
       "Port COM1 lost: the device went away"},
      {"the port back again", "Entry 1 finished\nPort COM1 lost: gone\nPort COM1 opened again\n",
       true, true, "on time"},
  };
  for (const auto& [name, written, known, ok, summaryHas] : cases) {
    SCOPED_TRACE(name);
    ShowHealth health;
    std::istringstream events(written);
    for (std::string event; std::getline(events, event);) {
      health.Written("2026-12-07 18:00:00 " + event);
    }
    const auto line = health.Line();
    ASSERT_EQ(line.has_value(), known);
    if (!line) continue;
    EXPECT_EQ(line->ok, ok);
    EXPECT_NE(line->summary.find(summaryHas), std::string::npos) << line->summary;
  }
  // An earlier run's line is not this show's.
  ShowHealth health;
  health.Seed(
      "2026-12-06 18:00:00 Entry 1 line late: up to 90 ms at 0:10 at 56000 baud\n"
      "2026-12-06 18:00:00 Port COM1 lost: gone\n");
  EXPECT_FALSE(health.Line());
}

TEST(ShowHealth, LocalStampHasTheLogsFormAndOrder) {
  const std::chrono::system_clock::time_point now{std::chrono::seconds(1796000000)};
  const std::string stamp = watch::LocalStamp(now);
  ASSERT_EQ(stamp.size(), 19u);
  EXPECT_LT(watch::LocalStamp(now - std::chrono::hours(24)), stamp);
  ShowHealth health;
  health.Written(stamp + " Alert summary: ok");
  EXPECT_EQ(health.AlertsSince(stamp).size(), 1u);
}

}  // namespace
