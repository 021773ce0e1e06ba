// The show with calendar.toml, over simulated weeks: each night opens and
// closes where the preview says, with its volume, and nothing plays on a
// night without a show.
#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "tests/playback/calendar_show_rig.h"

namespace {

using calendar_show::Rig;
using playback_test::Contains;

constexpr const char* kTwoWeeks = R"([[show]]
dates = "12-01..12-20"
start = "6:00 PM"
end = "9:00 PM"

[[show]]
dates = "12-01..12-20"
days = ["Fri", "Sat"]
start = "7:00 PM"
end = "1:00 AM"
volume = 70

[[show]]
dates = "12-13"
start = "12:30 AM"
end = "2:00 AM"
volume = 40

[[show]]
dates = "12-09"
off = true
)";

TEST(ShowCalendarTest, OverTenNightsEachPlaysAsThePreviewSays) {
  // Songs of 70 s: a pass of three does not fit a night evenly, so the
  // night's end falls inside one.
  Rig rig(kTwoWeeks, 70);
  rig.Run({2026, 12, 3}, 12 * 3600, {2026, 12, 14}, 12 * 3600);

  const auto nights = calendar_show::Preview(kTwoWeeks, {2026, 12, 3}, 11);
  // The Friday and Saturday nights past midnight, the Saturday cut short by
  // Sunday's early show, and the dark Wednesday.
  EXPECT_EQ(calendar::PreviewLine(nights[2]),
            "Sat 2026-12-05  Sat 5 Dec, 7:00 PM to Sun 6 Dec, 1:00 AM  volume 70%  line 6 "
            "(12-01..12-20, Fri Sat) over line 1 (names days)");
  EXPECT_FALSE(nights[6].HasShow());
  EXPECT_TRUE(nights[9].cutByNext);
  calendar_show::ExpectPlayedAsPreviewed(rig.port, rig.window.songs, nights, 70);
  EXPECT_TRUE(rig.ui.messages.empty());

  // Paused, the show names its next night, and the log says the same.
  ASSERT_FALSE(rig.window.nextShows.empty());
  EXPECT_EQ(rig.window.nextShows[0], "Next show: Thu 3 Dec, 6:00 PM");
  const std::string paused = " Show paused: waiting for the calendar's next night, ";
  EXPECT_TRUE(Contains(rig.log.text, "2026-12-03 12:00:00" + paused + "Thu 3 Dec, 6:00 PM\n"));
  EXPECT_TRUE(Contains(rig.log.text, "2026-12-08 21:00:50" + paused + "Thu 10 Dec, 6:00 PM\n"));
}

TEST(ShowCalendarTest, ObserversAskingTheCalendarChangeNothingThePassDecides) {
  // Saturday's night is cut short at 12:30 AM by Sunday's early show at
  // volume 40. The watch asks about now at every yield, the page about other
  // moments: the song under way at 12:30 AM is still Saturday's last, and
  // Sunday's songs play at Sunday's volume.
  Rig rig(kTwoWeeks, 70);
  int asked = 0;
  rig.observer = [&](const playback::ShowCalendar& calendar) {
    const playback::ShowSettings settings = rig.window.CurrentSettings();
    const playback::ShowTime now = playback::ReadShowTime(rig.clock);
    calendar.NightAt(settings, now);
    // Other moments now and then: each costs a few dates worked out afresh.
    if (++asked % 500 == 0) {
      calendar.NightAt(settings, {now.unixSeconds + 5400, 0});
      calendar.NextNightAfter(settings, {now.unixSeconds - 86400, 0});
    }
  };
  rig.Run({2026, 12, 12}, 18 * 3600, {2026, 12, 13}, 3 * 3600);
  EXPECT_GT(asked, 0);
  const auto nights = calendar_show::Preview(kTwoWeeks, {2026, 12, 12}, 2);
  ASSERT_TRUE(nights[0].cutByNext);
  calendar_show::ExpectPlayedAsPreviewed(rig.port, rig.window.songs, nights, 70);
}

TEST(ShowCalendarTest, TheNightAtAMomentDependsOnThatMomentAlone) {
  Rig rig(kTwoWeeks);
  playback::CalendarFileWindow calendar(rig.dir.path().string());
  const playback::ShowSettings settings = rig.window.CurrentSettings();
  const auto at = [](const calendar::Date& date, int hours, int minutes) {
    return playback::ShowTime{calendar::LocalMoment(date, hours * 3600 + minutes * 60), 0};
  };
  // From `from` (hours, minutes) on `date` to `to` on `until`.
  const auto night = [&](const calendar::Date& date, std::pair<int, int> from,
                         const calendar::Date& until, std::pair<int, int> to, int volume,
                         const char* startText, const char* endText, const char* opensText) {
    return playback::ShowNight{at(date, from.first, from.second).unixSeconds,
                               at(until, to.first, to.second).unixSeconds,
                               volume,
                               startText,
                               endText,
                               opensText};
  };
  const playback::ShowNight saturday = night({2026, 12, 12}, {19, 0}, {2026, 12, 13}, {0, 30}, 70,
                                             "7:00 PM", "12:30 AM", "Sat 12 Dec, 7:00 PM");
  const playback::ShowNight sunday = night({2026, 12, 13}, {0, 30}, {2026, 12, 13}, {2, 0}, 40,
                                           "12:30 AM", "2:00 AM", "Sun 13 Dec, 12:30 AM");
  const playback::ShowNight thursday = night({2026, 12, 10}, {18, 0}, {2026, 12, 10}, {21, 0}, 100,
                                             "6:00 PM", "9:00 PM", "Thu 10 Dec, 6:00 PM");
  struct Case {
    playback::ShowTime at;
    std::optional<playback::ShowNight> open;
    std::optional<playback::ShowNight> next;
  };
  const std::vector<Case> cases = {
      {at({2026, 12, 12}, 20, 0), saturday, sunday},
      {at({2026, 12, 13}, 0, 29), saturday, sunday},
      {at({2026, 12, 13}, 0, 30), sunday, std::nullopt},
      {at({2026, 12, 13}, 1, 59), sunday, std::nullopt},
      // Wednesday is off: nothing until Thursday.
      {at({2026, 12, 9}, 20, 0), std::nullopt, thursday},
  };
  // Asked forwards, backwards and forwards again, each answer is the same.
  for (int round = 0; round < 3; ++round) {
    for (std::size_t i = 0; i < cases.size(); ++i) {
      const Case& c = cases[round == 1 ? cases.size() - 1 - i : i];
      SCOPED_TRACE(calendar_show::When(c.at.unixSeconds * calendar_show::kSecond));
      EXPECT_EQ(calendar.NightAt(settings, c.at).night, c.open);
      if (c.next) {
        EXPECT_EQ(calendar.NextNightAfter(settings, c.at), c.next);
      }
    }
  }
}

TEST(ShowCalendarTest, ACalendarWithAMistakeKeepsTheShowWaitingAndSaysWhy) {
  Rig rig("[[show]]\nstart = \"6:00 PM\"\ndays = [\"Fir\"]\nend = \"9:00 PM\"\n");
  rig.Run({2026, 12, 3}, 12 * 3600, {2026, 12, 5}, 12 * 3600);
  EXPECT_TRUE(rig.window.songs.empty());
  EXPECT_EQ(rig.port.opens.size(), 1u);  // the Start burst only
  EXPECT_EQ(rig.window.status, playback::kStoppedText);
  const std::string problem =
      "calendar.toml line 3: days: \"Fir\" is not a day; use Mon, Tue, Wed, Thu, Fri, Sat, Sun";
  const std::string notice =
      "The calendar cannot be used, so the show waits until it is mended and started again: ";
  EXPECT_EQ(rig.window.notices, std::vector<std::string>{notice + problem});
  const std::string paused = "2026-12-03 12:00:00 Show paused: the calendar cannot be used: ";
  EXPECT_TRUE(Contains(rig.log.text, paused + problem + "\n"));
}

// Windows makes links only with a privilege (and Wine not at all); the rule
// is the one reader's, the same on both.
#ifndef _WIN32
// A calendar.toml link to a file that was moved, or links that lead back to
// each other, were taken as no calendar: the show quietly played the lists'
// daily window. They are a mistake in the calendar, told as any other.
TEST(ShowCalendarTest, ACalendarLinkThatLeadsToNoFileIsAMistakeNotNoCalendar) {
  const std::pair<const char*, std::string> cases[] = {
      {"dangling", "it is a link to \""}, {"loop", "it is a link that leads back to itself"}};
  for (const auto& [name, reason] : cases) {
    SCOPED_TRACE(name);
    Rig rig("");
    rig.window.startTime = "12:00:00 AM";  // the lists' window is open all day
    rig.window.endTime = "11:59:59 PM";
    const std::filesystem::path link = rig.dir.File("calendar.toml");
    if (std::string(name) == "dangling") {
      std::filesystem::create_symlink(rig.dir.File("moved.toml"), link);
    } else {
      std::filesystem::create_symlink(rig.dir.File("other.toml"), link);
      std::filesystem::create_symlink(link, rig.dir.File("other.toml"));
    }
    rig.Run({2026, 12, 3}, 12 * 3600, {2026, 12, 3}, 13 * 3600);
    EXPECT_TRUE(rig.window.songs.empty());
    const std::string notice =
        "The calendar cannot be used, so the show waits until it is mended and started again: "
        "calendar.toml cannot be read: " +
        reason;
    ASSERT_EQ(rig.window.notices.size(), 1u);
    EXPECT_EQ(rig.window.notices[0].rfind(notice, 0), 0u) << rig.window.notices[0];
  }
}
#endif  // _WIN32

TEST(ShowCalendarTest, WithoutACalendarAStartLaterThanTheEndSaysTheWindowNeverOpens) {
  Rig rig("");
  rig.window.startTime = "10:00:00 PM";
  rig.window.endTime = "2:00:00 AM";
  rig.Run({2026, 12, 3}, 12 * 3600, {2026, 12, 4}, 12 * 3600);
  EXPECT_TRUE(rig.window.songs.empty());
  EXPECT_EQ(rig.port.opens.size(), 1u);  // the Start burst only
  const std::string never =
      "The start time is later than the end time, so the daily window never opens. For a show "
      "past midnight, use a calendar.";
  EXPECT_EQ(rig.window.notices, std::vector<std::string>{never});
  EXPECT_TRUE(Contains(rig.log.text, "2026-12-03 12:00:00 Show paused: " + never + "\n"));
  EXPECT_TRUE(rig.window.nextShows.empty());
}

TEST(ShowCalendarTest, WithoutACalendarThePausedShowNamesTheNextDailyWindow) {
  Rig rig("");
  rig.Run({2026, 12, 3}, 19 * 3600, {2026, 12, 4}, 12 * 3600);
  // 5:30:00 PM to 7:00:00 PM: Start at 7 PM plays (the window's last
  // second), then the show waits for the next day.
  EXPECT_EQ(rig.window.nextShows, std::vector<std::string>{"Next show: Fri 4 Dec, 5:30 PM"});
  EXPECT_TRUE(Contains(rig.log.text,
                       "Show paused: waiting for its daily window 5:30:00 PM to 7:00:00 PM\n"));
}

}  // namespace
