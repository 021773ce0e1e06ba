#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/log_file.h"
#include "playback/show_event.h"
#include "playback/show_log.h"
#include "tests/fakes/temp_dir.h"
#include "web/last_nights.h"

namespace {

namespace ev = playback::show_event;

std::string Line(const std::string& stamp, const playback::ShowEvent& event) {
  return stamp + " " + playback::Describe(event);
}

playback::ShowEvent Repeated(int count) {
  playback::ShowEvent event;
  event.kind = playback::ShowEventKind::Repeated;
  event.count = count;
  return event;
}

std::vector<std::string> Fields(const std::vector<playback::NightSummary>& nights) {
  std::vector<std::string> out;
  for (const auto& n : nights) {
    out.push_back(n.date + " " + std::to_string(n.shows) + " " + std::to_string(n.played) + " " +
                  std::to_string(n.skipped) + " " + std::to_string(n.skippedByRequest) + " " +
                  std::to_string(n.lateKeepAlives) + " " + std::to_string(n.lateLines) + " " +
                  std::to_string(n.portLosses));
  }
  return out;
}

// The page's nights, kept line by line, agree with glimmer log's count of
// the whole file: across noon, a night past midnight, offsets from UTC,
// repeats and lines that are not events.
TEST(NightBook, LinesAsWrittenCountAsTheWholeLogDoes) {
  const std::vector<std::vector<std::string>> logs = {
      {},
      {Line("2026-12-24 17:30:00", ev::ShowStarted("glimmer show")),
       Line("2026-12-24 17:33:00", ev::EntryFinished(0)),
       Line("2026-12-25 00:10:00", ev::EntryFinished(1)),  // past midnight: the 24th's
       Line("2026-12-25 00:11:00", ev::PortLost("COM1", "gone")),
       Line("2026-12-25 12:00:00", ev::ShowStarted("autostart"))},
      {Line("2026-03-28 18:00:00 +0100", ev::ShowStarted("Start button")),
       Line("2026-03-29 03:10:00 +0200", ev::EntrySkipped(2, "cache damaged")), "not an event line",
       "", Line("2026-03-29 03:11:00 +0200", ev::LateKeepAlive(3)),
       Line("2026-03-29 03:11:00 +0200", Repeated(4)),
       Line("2026-03-29 03:12:00 +0200", ev::EntryCut(1)),
       Line("2026-03-29 03:13:00 +0200", ev::LineLate(1, 80, "0:12", 56000))},
  };
  for (const auto& lines : logs) {
    std::string whole;
    web::NightBook book;
    for (const std::string& line : lines) {
      book.Written(line);
      whole += line + "\n";
    }
    SCOPED_TRACE(whole);
    EXPECT_EQ(Fields(book.Last(web::NightBook::kNightsKept)),
              Fields(playback::SummarizeShowLog(whole)));
    const auto lastTwo = book.Last(2);
    EXPECT_LE(lastTwo.size(), 2u);
  }
}

// A client that asks for more nights than the page may gets what is kept,
// and the book holds no more than that however long the show runs.
TEST(NightBook, KeepsTheLastNightsOnly) {
  web::NightBook book;
  for (int night = 0; night < 400; ++night) {
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "%d-%02d-%02d 18:00:00", 2026 + night / 336,
                  1 + night / 28 % 12, 1 + night % 28);
    book.Written(Line(stamp, ev::ShowStarted("autostart")));
  }
  EXPECT_EQ(book.Last(1000).size(), web::NightBook::kNightsKept);
  EXPECT_EQ(book.Last(3).size(), 3u);
  EXPECT_TRUE(book.Last(0).empty());
}

// The page reads the same generations of the log as glimmer log: show.log and
// every older file the rotation keeps.
TEST(NightBook, SeedReadsEveryGenerationGlimmerLogReads) {
  fakes::TempDir dir;
  const std::string log = dir.File("show.log");
  for (int generation = 0; generation <= platform::kLogGenerations; ++generation) {
    const std::string path = generation == 0 ? log : log + "." + std::to_string(generation);
    const int day = 20 - generation;  // the oldest file holds the first night
    fakes::WriteBytes(
        path,
        Line("2026-12-" + std::to_string(day) + " 18:00:00", ev::ShowStarted("autostart")) + "\n");
  }
  web::NightBook book;
  book.SeedFrom(dir.path().string());
  EXPECT_TRUE(book.Seeded());
  const auto nights = book.Last(30);
  ASSERT_EQ(nights.size(), static_cast<std::size_t>(platform::kLogGenerations + 1));
  EXPECT_EQ(nights.front().date, "2026-12-15");
  EXPECT_EQ(nights.back().date, "2026-12-20");

  // A log that cannot be read leaves the book as it was.
  fakes::TempDir broken;
  std::filesystem::create_directory(broken.File("show.log"));
  web::NightBook kept;
  kept.Written(Line("2026-12-24 18:00:00", ev::ShowStarted("autostart")));
  kept.SeedFrom(broken.path().string());
  EXPECT_FALSE(kept.Seeded());
  EXPECT_EQ(kept.Last(7).size(), 1u);
}

// The nights' windows against what played are read from the files off the
// show's thread: the first question starts the reading and gets what is
// known (nothing yet); once it is done the page gets every night, the older
// generations too, as glimmer log prints them.
TEST(NightBook, PlayedNightsAreReadOffTheAskingThreadFromEveryGeneration) {
  fakes::TempDir dir;
  const std::string log = dir.File("show.log");
  fakes::WriteBytes(log + ".1",
                    "2026-12-19 17:00:00 " +
                        playback::Describe(ev::NightWindow("5:00:00 PM", "6:00:00 PM")) + "\n");
  fakes::WriteBytes(log, "2026-12-20 17:00:00 " +
                             playback::Describe(ev::NightWindow("5:00:00 PM", "7:00:00 PM")) +
                             "\n");
  web::NightBook book;
  book.SeedFrom(dir.path().string());
  (void)book.LastPlayed(30);
  book.SettlePlayed();
  const std::vector<web::NightPlayedView> played = book.LastPlayed(30);
  ASSERT_EQ(played.size(), 2u);
  EXPECT_EQ(played[0].date, "2026-12-19");
  EXPECT_EQ(played[0].windowMinutes, 60);
  EXPECT_EQ(played[1].date, "2026-12-20");
  EXPECT_EQ(played[1].windowMinutes, 120);
  EXPECT_EQ(played[1].playedMinutes, 0);
  EXPECT_EQ(book.LastPlayed(1).size(), 1u);

  // A book never given a folder reads nothing.
  web::NightBook unseeded;
  EXPECT_TRUE(unseeded.LastPlayed(30).empty());
}

}  // namespace
