#include "watch/show_health.h"

#include <gtest/gtest.h>

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
  namespace ev = playback::show_event;
  using Events = std::vector<playback::ShowEvent>;
  const playback::ShowEvent late = ev::LineLate(1, 80, "1:05", 56000);
  const playback::ShowEvent lost = ev::PortLost("COM1", "the device went away");
  // The events written in this run, as the show writes them; whether the
  // line is known, whether it is well, and a part of its summary.
  const std::tuple<const char*, Events, bool, bool, std::string> cases[] = {
      {"nothing played yet",
       {ev::ShowStarted("Start button"), ev::EntryStarted(0, "A")},
       false,
       true,
       ""},
      {"an entry played through",
       {ev::ShowStarted("Start button"), ev::EntryStarted(0, "A"), ev::EntryFinished(0)},
       true,
       true,
       "on time"},
      {"an entry fell behind",
       {ev::ShowStarted("Start button"), late, ev::EntryFinished(1)},
       true,
       false,
       "1 entry fell visibly behind"},
      {"two fell behind", {late, late}, true, false, "2 entries fell visibly behind"},
      {"a new show forgets the last one's lateness",
       {late, ev::ShowStopped("Stop button"), ev::ShowStarted("phone page")},
       false,
       true,
       ""},
      {"the port lost, before anything played",
       {ev::ShowStarted("autostart"), lost},
       true,
       false,
       "Port COM1 lost: the device went away"},
      {"the port back again",
       {ev::EntryFinished(0), lost, ev::PortBack("COM1")},
       true,
       true,
       "on time"},
      {"the port opened by the next show",
       {ev::EntryFinished(0), lost, ev::PortOpened("COM1")},
       true,
       true,
       "on time"},
  };
  for (const auto& [name, written, known, ok, summaryHas] : cases) {
    SCOPED_TRACE(name);
    // Once as the lines of the log, once as the events themselves.
    ShowHealth fromLines, fromEvents;
    for (const playback::ShowEvent& event : written) {
      fromLines.Written("2026-12-07 18:00:00 " + playback::Describe(event));
      fromEvents.Heard("2026-12-07 18:00:00", event);
    }
    for (const ShowHealth* health : {&fromLines, &fromEvents}) {
      const auto line = health->Line();
      ASSERT_EQ(line.has_value(), known);
      if (!line) continue;
      EXPECT_EQ(line->ok, ok);
      EXPECT_NE(line->summary.find(summaryHas), std::string::npos) << line->summary;
    }
  }
  // An earlier run's line is not this show's.
  ShowHealth health;
  health.Seed("2026-12-06 18:00:00 " + playback::Describe(late) + "\n2026-12-06 18:00:00 " +
              playback::Describe(lost) + "\n");
  EXPECT_FALSE(health.Line());
}

TEST(ShowHealth, TheAlertCommandsOwnLinesAreNoAlerts) {
  ShowHealth health;
  health.Written("2026-12-07 18:00:00 Alert command said: port-lost: hello");
  health.Written("2026-12-07 18:00:01 Alert command for summary failed with exit status 3");
  health.Written("2026-12-07 18:00:02 " + playback::Describe(playback::show_event::AlertRaised(
                                              "port-back", "Port COM1 back")));
  const auto alerts = health.AlertsSince("2026-12-07 00:00:00");
  ASSERT_EQ(alerts.size(), 1u);
  EXPECT_EQ(alerts[0].event, "port-back");
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
