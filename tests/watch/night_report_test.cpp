#include "watch/night_report.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <tuple>

namespace {

std::string At(const char* date, int secondsOfDay, const std::string& event) {
  char time[32];
  std::snprintf(time, sizeof time, " %02d:%02d:%02d ", secondsOfDay / 3600, secondsOfDay / 60 % 60,
                secondsOfDay % 60);
  return std::string(date) + time + event + "\n";
}

// Three-minute songs from `from` to `to` (seconds of the day), entries 1 to 4
// in turn.
std::string Songs(const char* date, int from, int to) {
  std::string log;
  for (int t = from, row = 0; t + 180 <= to; t += 180, row = (row + 1) % 4) {
    log += At(date, t,
              "Entry " + std::to_string(row + 1) + " started: Song " + std::to_string(row + 1));
    log += At(date, t + 180, "Entry " + std::to_string(row + 1) + " finished");
  }
  return log;
}

constexpr int H = 3600;

// A night of 5:30 PM to 11:00 PM (330 minutes): songs until 8 PM, the port
// lost and an entry skipped, forty dark minutes, songs again until 11 PM.
std::string ShortNight() {
  const auto at = [](int t, const std::string& event) { return At("2026-12-24", t, event); };
  const std::string paused = "Show paused: waiting for its daily window 5:30:00 PM to 11:00:00 PM";
  return at(17 * H + 20 * 60, "Show started (glimmer show)") + at(17 * H + 20 * 60, paused) +
         at(17 * H + 20 * 60, "Night window: 5:30:00 PM to 11:00:00 PM") +
         Songs("2026-12-24", 17 * H + 30 * 60, 20 * H) +
         at(20 * H, "Port COM1 lost: write failed: Input/output error") +
         at(20 * H, "Entry 2 skipped: cache: Cache/b.cache: damaged") +
         at(20 * H, "Late keep-alive: 7 seconds since the one before") +
         at(20 * H + 5, "Entry 3 plays silently: no audio device: none found") +
         Songs("2026-12-24", 20 * H + 40 * 60, 23 * H) + at(23 * H, paused);
}

TEST(ExpectedAgainstPlayed, ASimulatedNightWithASkippedEntryAndAPortLoss) {
  const std::vector<watch::NightPlayed> nights = watch::ExpectedAgainstPlayed(ShortNight());
  ASSERT_EQ(nights.size(), 1u);
  const watch::NightPlayed& night = nights[0];
  EXPECT_EQ(night.windowSeconds, 330 * 60);
  EXPECT_EQ(night.playedSeconds, (150 + 140) * 60 - 2 * 60);  // whole songs only
  EXPECT_TRUE(night.Short());
  // The rest of the count, each figure in its place.
  EXPECT_EQ(watch::DescribeNight(night),
            "Night of 2026-12-24: played 288 of 330 minutes (87 %), 96 songs, 1 skipped, 1 late "
            "keep-alive, 1 port loss, 1 silent");
}

TEST(LogLineEvent, SkipsTheTimeAndTheOffsetOnly) {
  const std::pair<const char*, const char*> cases[] = {
      {"2026-12-24 18:00:00 +0100 Entry 1 started: Song", "Entry 1 started: Song"},
      {"2026-12-24 18:00:00 -0530 Show ended: the playlist is empty",
       "Show ended: the playlist is empty"},
      {"2026-12-24 18:00:00 Show stopped (Stop button)", "Show stopped (Stop button)"},
      {"2026-12-24 18:00:00 +01 is no offset", "+01 is no offset"},
      {"2026-12-24 18:00:00 +0100", "+0100"},
      {"half a line wit", ""},
      {"", ""},
  };
  for (const auto& [line, event] : cases) EXPECT_EQ(watch::LogLineEvent(line), event) << line;
}

TEST(ExpectedAgainstPlayed, ANightPastMidnightIsOneNightAndAFullOneIsNotShort) {
  std::string log = At("2026-12-25", 20 * H, "Night window: 8:00:00 PM to 11:59:59 PM");
  log += Songs("2026-12-25", 20 * H, 24 * H - 180);
  // The last song runs past midnight, into the next day's date.
  log += At("2026-12-25", 24 * H - 180, "Entry 1 started: Song 1");
  log += At("2026-12-26", 60, "Entry 1 finished");
  log += At("2026-12-26", 120, "Show stopped (SIGTERM, as closing the window)");
  const auto nights = watch::ExpectedAgainstPlayed(log);
  ASSERT_EQ(nights.size(), 1u);
  EXPECT_EQ(std::tuple(nights[0].date, nights[0].Percent(), nights[0].Short()),
            std::tuple("2026-12-25", 100, false));
}

TEST(ExpectedAgainstPlayed,
     ASongCutByACrashCountsUntilTheShowCameBackAndAnUnknownWindowIsNoPercent) {
  std::string log = At("2026-12-27", 18 * H, "Entry 1 started: Song 1");
  log += At("2026-12-27", 18 * H + 100, "Show started (glimmer show)");
  const auto nights = watch::ExpectedAgainstPlayed(log);
  ASSERT_EQ(nights.size(), 1u);
  EXPECT_EQ(std::tuple(nights[0].playedSeconds, nights[0].Percent(), nights[0].Short()),
            std::tuple(100, -1, false));
  EXPECT_EQ(watch::DescribeNight(nights[0]).rfind("Night of 2026-12-27: played 1 of ? minutes", 0),
            0u);
}

// A show the service manager starts again and again while the adapter stays
// away tells of it once; once a show has started, the next outage is news.
TEST(AlreadyAlerted, UntilAShowStartsTheSameTroubleIsToldOnce) {
  const std::string missing = "waited 120 seconds; still missing: the serial adapter (COM1)";
  const std::string told = At("2026-12-24", 17 * H, "Alert check-failed: " + missing);
  const std::string started = At("2026-12-24", 17 * H + 60, "Show started (glimmer show)");
  const std::tuple<const char*, std::string, bool> cases[] = {
      {"nothing yet", "", false},
      {"told, then retried", told + At("2026-12-24", 17 * H + 30, missing), true},
      {"told in a line ending CR LF", told.substr(0, told.size() - 1) + "\r\n", true},
      {"a show started since", told + started, false},
      {"another trouble told", At("2026-12-24", 17 * H, "Alert check-failed: disk full"), false},
      {"told again after a show", told + started + told, true},
  };
  for (const auto& [name, log, already] : cases) {
    EXPECT_EQ(watch::AlreadyAlerted(log, "check-failed", missing), already) << name;
  }
}

TEST(Restarted, OnlyARunningShowWhoseLogEndsWithoutAStop) {
  const std::string running = At("2026-12-24", 18 * H, "Entry 1 started: Song 1");
  const std::string stopped = running + At("2026-12-24", 18 * H + 5, "Show stopped (Stop button)");
  const std::string ended =
      running + At("2026-12-24", 18 * H + 5, "Show ended: the playlist is empty");
  EXPECT_TRUE(watch::Restarted("1", running));
  EXPECT_TRUE(watch::Restarted("1", running + "half a line wit"));
  EXPECT_FALSE(watch::Restarted("0", running));
  EXPECT_FALSE(watch::Restarted("1", stopped));
  EXPECT_FALSE(watch::Restarted("1", ended + "\n\n"));
  EXPECT_FALSE(watch::Restarted("1", ""));
}

}  // namespace
