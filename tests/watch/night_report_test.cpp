#include "watch/night_report.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <tuple>

#include "playback/show_event.h"

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

// The minutes asked are the window's while the show ran in it; a Skip by
// the operator and a song that could not play are counted apart, and only
// songs that played to their end are songs.
TEST(ExpectedAgainstPlayed, TheShowIsMeasuredAgainstTheTimeItWasAskedToPlay) {
  namespace ev = playback::show_event;
  const auto at = [](int t, const playback::ShowEvent& event) {
    return At("2026-12-24", t, playback::Describe(event));
  };
  const std::string log =
      at(17 * H, ev::ShowStarted("autostart")) +
      at(17 * H, ev::Paused("5:30:00 PM", "11:00:00 PM")) +
      at(17 * H + 20 * 60, ev::NightWindow("5:30:00 PM", "11:00:00 PM")) +
      at(17 * H + 30 * 60, ev::Resumed()) + Songs("2026-12-24", 17 * H + 30 * 60, 18 * H) +
      at(18 * H, ev::EntryStarted(1, "Song 2")) + at(18 * H + 60, ev::EntryCut(1)) +
      at(18 * H + 60, ev::EntryStarted(2, "Song 3")) +
      at(18 * H + 60, ev::EntrySkipped(2, "audio: gone")) +
      at(18 * H + 60, ev::EntryStarted(3, "Song 4")) + at(18 * H + 240, ev::EntryStopped(3)) +
      at(18 * H + 240, ev::ShowStopped("Stop button")) +
      // Started again at nine and played to the window's end.
      at(21 * H, ev::ShowStarted("Start button")) + Songs("2026-12-24", 21 * H, 23 * H) +
      at(23 * H, ev::Paused("5:30:00 PM", "11:00:00 PM"));
  const auto nights = watch::ExpectedAgainstPlayed(log);
  ASSERT_EQ(nights.size(), 1u);
  const watch::NightPlayed& night = nights[0];
  EXPECT_EQ(std::tuple(night.askedSeconds, night.playedSeconds, night.songs, night.skipped,
                       night.skippedByRequest, night.Short()),
            std::tuple(34 * 60 + 120 * 60, 34 * 60 + 120 * 60, 10 + 40, 1, 1, false));
  EXPECT_EQ(watch::DescribeNight(night),
            "Night of 2026-12-24: played 154 of 154 minutes (100 %), 50 songs, 1 skipped, 1 "
            "skipped by request, 0 late keep-alives, 0 port losses, 0 silent");
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

// The log writes each line's offset from UTC: across a change of daylight
// saving time, what played is counted on the clock that does not jump.
TEST(ExpectedAgainstPlayed, TheOffsetsFromUtcCountAcrossAClockChange) {
  struct Case {
    const char* name;
    std::string log;
    int played;
    int asked;
  };
  const Case cases[] = {
      {"spring: 01:59:45 to 03:00:15 is 30 s",
       "2026-03-29 01:59:40 +0100 Show started (glimmer show)\n"
       "2026-03-29 01:59:45 +0100 Entry 1 started: Song 1\n"
       "2026-03-29 03:00:15 +0200 Entry 1 finished\n"
       "2026-03-29 03:00:20 +0200 Show stopped (Stop button)\n",
       30, 40},
      {"autumn: 02:59:45 to 02:00:15 is 30 s",
       "2026-10-25 02:59:40 +0200 Show started (glimmer show)\n"
       "2026-10-25 02:59:45 +0200 Entry 1 started: Song 1\n"
       "2026-10-25 02:00:15 +0100 Entry 1 finished\n"
       "2026-10-25 02:00:20 +0100 Show stopped (Stop button)\n",
       30, 40},
      {"west of UTC, no change",
       "2026-12-24 18:00:00 -0500 Show started (glimmer show)\n"
       "2026-12-24 18:00:00 -0500 Entry 1 started: Song 1\n"
       "2026-12-24 18:03:00 -0500 Entry 1 finished\n"
       "2026-12-24 18:04:00 -0500 Show stopped (Stop button)\n",
       180, 240},
      {"lines from before the offsets were written",
       "2026-12-24 18:00:00 Show started (glimmer show)\n"
       "2026-12-24 18:00:00 Entry 1 started: Song 1\n"
       "2026-12-24 18:03:00 Entry 1 finished\n"
       "2026-12-24 18:04:00 Show stopped (Stop button)\n",
       180, 240},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::vector<watch::NightPlayed> nights = watch::ExpectedAgainstPlayed(c.log);
    ASSERT_EQ(nights.size(), 1u);
    EXPECT_EQ(nights[0].playedSeconds, c.played);
    EXPECT_EQ(nights[0].askedSeconds, c.asked);
    EXPECT_EQ(nights[0].songs, 1);
  }
  // A window of 8 PM to 5 AM across the change closes at 5 AM as the clock
  // then reads it: eight hours after its start, not nine.
  const std::string open =
      "2026-03-28 20:00:00 +0100 Show started (glimmer show)\n"
      "2026-03-28 20:00:00 +0100 Night window: 8:00:00 PM to 5:00:00 AM\n";
  const std::vector<watch::NightPlayed> nights =
      watch::ExpectedAgainstPlayed(open + "2026-03-29 04:00:00 +0200 Entry 1 started: Song 1\n");
  ASSERT_EQ(nights.size(), 1u);
  EXPECT_EQ(nights[0].askedSeconds, 8 * H);
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

// A clean stop while an alert command ran: the lines the watch wrote after
// the show's last one (the command stopped as the program ended, what it
// said) do not make the next start a restart; a crash after them still is.
TEST(Restarted, TheWatchsLinesAfterACleanEndAreNoCrash) {
  const std::string running = At("2026-12-24", 18 * H, "Entry 1 started: Song 1");
  const std::string stopped =
      running + At("2026-12-24", 18 * H + 5, "Show stopped (SIGTERM, as closing the window)");
  const std::string afterwards =
      At("2026-12-24", 18 * H + 5, "Alert summary: Night of 2026-12-24: played 0 of 330 minutes") +
      At("2026-12-24", 18 * H + 6, "Alert command said: sending") +
      At("2026-12-24", 18 * H + 7, "Alert command for summary stopped as the show ended") +
      At("2026-12-24", 18 * H + 7, "Service manager not told: STOPPING=1: no socket");
  EXPECT_FALSE(watch::Restarted("1", stopped + afterwards));
  EXPECT_TRUE(watch::Restarted("1", running + afterwards));
  EXPECT_FALSE(watch::Restarted("1", afterwards));
}

}  // namespace
