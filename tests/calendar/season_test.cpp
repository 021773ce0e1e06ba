#include "calendar/season.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <tuple>

#include "calendar/local_time.h"
#include "tests/calendar/time_zone.h"

namespace {

using calendar::Date;
using calendar::Iso8601;
using calendar::LocalMoment;
using calendar_test::ScopedTimeZone;

calendar::Season SeasonOf(const std::string& text) {
  auto parsed = calendar::ParseCalendar(text);
  EXPECT_TRUE(parsed.calendar) << parsed.error;
  return calendar::Season(parsed.calendar ? *parsed.calendar : calendar::CalendarFile{});
}

std::string Window(const calendar::Night& night) {
  if (!night.HasShow()) return "no show";
  return Iso8601(*night.start) + " " + Iso8601(*night.end);
}

TEST(SeasonTest, TheRuleWithFewestDatesWinsThenTheOneNamingDaysThenTheLater) {
  ScopedTimeZone zone("Europe/Amsterdam");
  const calendar::Season season = SeasonOf(R"([[show]]
start = "6:00 PM"
end = "9:00 PM"

[[show]]
dates = "11-27..01-06"
start = "5:00 PM"
end = "10:00 PM"

[[show]]
dates = "11-27..01-06"
days = ["Fri", "Sat"]
start = "5:00 PM"
end = "11:00 PM"

[[show]]
dates = "11-27..01-06"
days = ["Sat"]
start = "5:00 PM"
end = "11:30 PM"

[[show]]
dates = "12-31"
start = "8:00 PM"
end = "12:30 AM"
volume = 60

[[show]]
dates = "12-24..12-26"
start = "7:00 PM"
end = "10:00 PM"

[[show]]
dates = "12-25"
off = true
)");
  // The date, the line of the rule that wins it, and why.
  const std::tuple<Date, int, std::string> cases[] = {
      // Saturday: three rules name the dates, two of them days too; the later.
      {{2026, 11, 28},
       16,
       "line 16 (11-27..01-06, Sat) over line 1 (fewer dates), line 5 (names "
       "days), line 10 (later in the file)"},
      {{2026, 12, 31}, 22, "line 22 (12-31) over line 1 (fewer dates), line 5 (fewer dates)"},
      {{2026, 12, 25},
       33,
       "off: line 33 (12-25) over line 1 (fewer dates), line 5 (fewer dates), "
       "line 10 (fewer dates), line 28 (fewer dates)"},
  };
  for (const auto& [date, line, reason] : cases) {
    SCOPED_TRACE(calendar::IsoDate(date));
    const calendar::Night night = season.NightOf(date);
    EXPECT_EQ(std::tie(night.ruleLine, night.reason), std::tie(line, reason));
  }
  EXPECT_FALSE(season.NightOf({2026, 12, 25}).HasShow());
  EXPECT_EQ(season.NightOf({2026, 12, 31}).volume, 60);
  EXPECT_EQ(Window(season.NightOf({2026, 12, 31})),
            "2026-12-31T20:00:00+01:00 2027-01-01T00:30:00+01:00");
}

// A rule with a name is told by it, beside its line, where it wins and
// where it loses.
TEST(SeasonTest, RulesWithANameAreToldByItAndTheirLine) {
  ScopedTimeZone zone("Europe/Amsterdam");
  const calendar::Season season = SeasonOf(R"([[show]]
name = "Season"
dates = "11-27..01-06"
start = "5:00 PM"
end = "10:00 PM"

[[show]]
dates = "12-24..12-26"
days = ["Thursday", "friday"]
start = "7:00 PM"
end = "10:00 PM"

[[show]]
name = "Christmas Day"
dates = "12-25"
off = true
)");
  const std::tuple<Date, std::string> cases[] = {
      {{2026, 12, 24}, "line 7 (12-24..12-26, Thu Fri) over \"Season\" line 1 (fewer dates)"},
      {{2026, 12, 25},
       "off: \"Christmas Day\" line 13 (12-25) over \"Season\" line 1 (fewer dates), line 7 "
       "(fewer dates)"},
      {{2026, 12, 1}, "\"Season\" line 1 (11-27..01-06)"},
  };
  for (const auto& [date, reason] : cases) {
    EXPECT_EQ(season.NightOf(date).reason, reason) << calendar::IsoDate(date);
  }
}

// A night belongs to its start date: the last night of a season and a
// Saturday night run past midnight into the next date.
TEST(SeasonTest, NightsRunPastMidnightIntoTheNextDate) {
  ScopedTimeZone zone("Europe/Amsterdam");
  const calendar::Season season = SeasonOf(R"([[show]]
dates = "11-27..01-06"
start = "10:00 PM"
end = "1:00 AM"
[[show]]
dates = "11-27..01-06"
days = ["Fri", "Sat"]
start = "10:00 PM"
end = "2:00 AM"
)");
  EXPECT_EQ(Window(season.NightOf({2027, 1, 6})),
            "2027-01-06T22:00:00+01:00 2027-01-07T01:00:00+01:00");
  const calendar::Night after = season.NightOf({2027, 1, 7});
  EXPECT_EQ(std::tuple(after.HasShow(), after.ruleLine, after.reason),
            std::tuple(false, 0, "no rule covers this date"));
  const std::int64_t pastMidnight = LocalMoment({2027, 1, 7}, 30 * 60);
  ASSERT_TRUE(season.InsideNow(pastMidnight));
  EXPECT_EQ(season.InsideNow(pastMidnight)->date, (Date{2027, 1, 6}));
  EXPECT_FALSE(season.InsideNow(LocalMoment({2027, 1, 7}, 3600)));
  EXPECT_TRUE(season.InsideNow(LocalMoment({2027, 1, 7}, 3599)));

  // Saturday 12 Dec into Sunday 13 Dec; Sunday's own night ends at 1 AM.
  EXPECT_EQ(Window(season.NightOf({2026, 12, 12})),
            "2026-12-12T22:00:00+01:00 2026-12-13T02:00:00+01:00");
  const std::int64_t sunday = LocalMoment({2026, 12, 13}, 2 * 3600);
  EXPECT_TRUE(season.InsideNow(sunday - 1));
  EXPECT_FALSE(season.InsideNow(sunday));
  ASSERT_TRUE(season.NextOpening(sunday));
  EXPECT_EQ(Iso8601(*season.NextOpening(sunday)->start), "2026-12-13T22:00:00+01:00");
  EXPECT_EQ(Window(season.NightOf({2026, 12, 13})),
            "2026-12-13T22:00:00+01:00 2026-12-14T01:00:00+01:00");
}

TEST(SeasonTest, ANightStillRunningWhenTheNextOpensEndsThere) {
  ScopedTimeZone zone("Europe/Amsterdam");
  const calendar::Season season = SeasonOf(R"([[show]]
days = ["Fri"]
start = "9:00 PM"
end = "3:00 AM"
[[show]]
days = ["Sat"]
start = "1:00 AM"
end = "4:00 AM"
volume = 50
)");
  const calendar::Night friday = season.NightOf({2026, 12, 11});
  EXPECT_EQ(Window(friday), "2026-12-11T21:00:00+01:00 2026-12-12T01:00:00+01:00");
  EXPECT_TRUE(friday.cutByNext);
  EXPECT_EQ(friday.reason, "line 1 (every date, Fri); ends as the next night opens");
  const std::int64_t handOver = LocalMoment({2026, 12, 12}, 3600);
  ASSERT_TRUE(season.InsideNow(handOver - 1) && season.InsideNow(handOver));
  EXPECT_EQ(season.InsideNow(handOver - 1)->volume, 100);
  EXPECT_EQ(season.InsideNow(handOver)->volume, 50);
  EXPECT_EQ(season.InsideNow(handOver)->date, (Date{2026, 12, 12}));
}

// Wall-clock times of each date: the day the clocks change included, and
// never 24 hours added to yesterday's start.
TEST(SeasonTest, TimesAreWallClockTimesAcrossBothDaylightSavingChanges) {
  struct Case {
    std::string zone;
    int year, month, day;
    std::string start, end, window;
  };
  const char* const ny = "America/New_York";
  const Case cases[] = {
      // New York, autumn (1 Nov 2026): a night across the change is an hour
      // longer. Its evenings on both sides and a night ending inside the
      // repeated hour are in the calendar preview's expected file.
      {ny, 2026, 10, 31, "10:00 PM", "2:00 AM",
       "2026-10-31T22:00:00-04:00 2026-11-01T02:00:00-05:00"},
      // Spring (14 Mar 2027): 2:30 AM does not exist; the night starts as the
      // gap ends, at 3:00 AM.
      {ny, 2027, 3, 14, "2:30 AM", "4:00 AM",
       "2027-03-14T03:00:00-04:00 2027-03-14T04:00:00-04:00"},
      {ny, 2027, 3, 13, "10:00 PM", "2:30 AM",
       "2027-03-13T22:00:00-05:00 2027-03-14T03:00:00-04:00"},
      {ny, 2027, 3, 14, "5:30 PM", "11:00 PM",
       "2027-03-14T17:30:00-04:00 2027-03-14T23:00:00-04:00"},
      // Amsterdam, autumn on 25 Oct 2026 at 3:00 back to 2:00: a start inside
      // the repeated hour is its first occurrence.
      {"Europe/Amsterdam", 2026, 10, 25, "2:30 AM", "5:00 AM",
       "2026-10-25T02:30:00+02:00 2026-10-25T05:00:00+01:00"},
  };
  for (const Case& c : cases) {
    const Date date{c.year, c.month, c.day};
    SCOPED_TRACE(c.zone + " " + calendar::IsoDate(date) + " " + c.start + " to " + c.end);
    ScopedTimeZone zone(c.zone);
    const calendar::Season season =
        SeasonOf("[[show]]\nstart = \"" + c.start + "\"\nend = \"" + c.end + "\"\n");
    EXPECT_EQ(Window(season.NightOf(date)), c.window);
  }
}

TEST(SeasonTest, WhereTheSunStaysUpOrDownTheRuleIsRefusedForThatDateWithTheReason) {
  ScopedTimeZone zone("Europe/Oslo");
  const calendar::Season season = SeasonOf(R"([location]
latitude = 69.65
longitude = 18.96
[[show]]
start = "sunset"
end = "11:00 PM"
)");
  const calendar::Night midsummer = season.NightOf({2026, 6, 21});
  EXPECT_EQ(std::tuple(midsummer.HasShow(), midsummer.ruleLine, midsummer.reason),
            std::tuple(false, 4,
                       "line 4 (every date): start sunset: the sun does not set on 2026-06-21 at "
                       "69.65, 18.96: it stays up all day"));
  EXPECT_EQ(season.NightOf({2026, 12, 21}).reason,
            "line 4 (every date): start sunset: the sun does not set on 2026-12-21 at 69.65, "
            "18.96: it stays down all day");
  EXPECT_TRUE(season.NightOf({2026, 9, 21}).HasShow());
}

// Where the clock runs a day ahead of the sun (Samoa, Tonga, Kiribati,
// Tokelau, the Chatham Islands) the sunset of the place's solar day falls on
// the next date, and a sunset rule played on none of 366 nights; Fairbanks
// lost its summer nights whose sunset comes after the clock's midnight.
// Every date of the year has its evening's sunset: on the date itself, or
// in Fairbanks' summer just past its midnight.
TEST(SeasonTest, SunsetRulesPlayEveryEveningWhereTheClockRunsFarFromTheSun) {
  struct Place {
    const char* zone;
    double latitude, longitude;
    int earliest, latest;  // the sunset's time of day over the year, in hours
  };
  const Place places[] = {
      {"Pacific/Apia", -13.83, -171.76, 17, 20},
      {"Pacific/Tongatapu", -21.14, -175.20, 17, 20},
      {"Pacific/Kiritimati", 1.87, -157.40, 18, 20},
      {"Pacific/Fakaofo", -9.38, -171.22, 17, 20},
      {"Pacific/Chatham", -43.95, -176.56, 16, 22},
      {"America/Anchorage", 64.84, -147.72, 14, 25},  // Fairbanks; 25: 1 AM the next date
  };
  for (const Place& place : places) {
    SCOPED_TRACE(place.zone);
    ScopedTimeZone zone(place.zone);
    const calendar::Season season =
        SeasonOf("[location]\nlatitude = " + std::to_string(place.latitude) +
                 "\nlongitude = " + std::to_string(place.longitude) +
                 "\n[[show]]\nstart = \"sunset\"\nend = \"2:00 AM\"\n");
    int nights = 0, pastMidnight = 0;
    std::optional<std::int64_t> lastStart;
    for (Date date{2026, 1, 1}; date.year == 2026; date = calendar::AddDays(date, 1)) {
      const calendar::Night night = season.NightOf(date);
      if (!night.HasShow()) {
        ADD_FAILURE() << calendar::IsoDate(date) << ": " << night.reason;
        continue;
      }
      ++nights;
      const calendar::LocalTime start = calendar::ToLocal(*night.start);
      const int hours = start.secondsOfDay / 3600 + (start.date == date ? 0 : 24);
      pastMidnight += start.date == date ? 0 : 1;
      EXPECT_EQ(calendar::DayNumber(start.date) - calendar::DayNumber(date), hours / 24)
          << calendar::IsoDate(date);
      EXPECT_TRUE(hours >= place.earliest && hours < place.latest)
          << calendar::IsoDate(date) << " " << calendar::Iso8601(*night.start);
      // One sunset a night, a day apart: none skipped, none taken twice.
      if (lastStart) {
        EXPECT_NEAR(static_cast<double>(*night.start - *lastStart), 86400.0, 3600.0 + 600.0)
            << calendar::IsoDate(date);
      }
      lastStart = night.start;
      EXPECT_GT(*night.end, *night.start);
    }
    EXPECT_EQ(nights, 365);
    if (std::string(place.zone) == "America/Anchorage") {
      EXPECT_GT(pastMidnight, 40);  // the summer evenings the rule lost
    } else {
      EXPECT_EQ(pastMidnight, 0);
    }
  }
}

// "sunset" to "sunrise" ends at the first sunrise after the night's sunset,
// on the next date. Fairbanks lost the nights of 22 and 23 May: that
// sunrise, a few minutes earlier each day, crossed noon UT and fell between
// the days searched. Tromsø's first sunset after the midnight sun, past
// midnight, ends at the sunrise of that same morning though the date it
// belongs to had none; where the sun truly stays up there is no night.
TEST(SeasonTest, ASunriseEndIsTheFirstSunriseAfterTheNightsStart) {
  struct Case {
    std::string zone;
    double latitude, longitude;
    Date date;
    std::string start;
    std::string window;  // or the reason there is no show
  };
  const std::string tromso = "Europe/Oslo";
  const Case cases[] = {
      {"America/Anchorage",
       64.84,
       -147.72,
       {2026, 5, 22},
       "sunset",
       "2026-05-22T23:35:00-08:00 2026-05-23T04:00:00-08:00"},
      {"America/Anchorage",
       64.84,
       -147.72,
       {2026, 5, 23},
       "sunset",
       "2026-05-23T23:38:00-08:00 2026-05-24T03:57:00-08:00"},
      {"America/Anchorage",
       64.84,
       -147.72,
       {2026, 5, 23},
       "10:00 PM",
       "2026-05-23T22:00:00-08:00 2026-05-24T03:57:00-08:00"},
      {tromso,
       69.65,
       18.96,
       {2026, 7, 25},
       "sunset",
       "2026-07-26T00:38:00+02:00 2026-07-26T01:05:00+02:00"},
      {tromso,
       69.65,
       18.96,
       {2026, 5, 17},
       "sunset",
       "2026-05-18T00:29:00+02:00 2026-05-18T00:51:00+02:00"},
      {tromso,
       69.65,
       18.96,
       {2026, 6, 21},
       "sunset",
       "line 4 (every date): start sunset: the sun does not set on 2026-06-21 at 69.65, 18.96: it "
       "stays up all day"},
      {tromso,
       69.65,
       18.96,
       {2026, 6, 21},
       "10:00 PM",
       "line 4 (every date): end sunrise: the sun does not rise on 2026-06-21 at 69.65, 18.96: it "
       "stays up all day"},
      {"Europe/Amsterdam",
       52.37,
       4.89,
       {2026, 11, 27},
       "sunset",
       "2026-11-27T16:34:00+01:00 2026-11-28T08:23:00+01:00"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.zone + " " + calendar::IsoDate(c.date) + " " + c.start);
    ScopedTimeZone zone(c.zone);
    const calendar::Season season =
        SeasonOf("[location]\nlatitude = " + std::to_string(c.latitude) +
                 "\nlongitude = " + std::to_string(c.longitude) + "\n[[show]]\nstart = \"" +
                 c.start + "\"\nend = \"sunrise\"\n");
    const calendar::Night night = season.NightOf(c.date);
    EXPECT_EQ(night.HasShow() ? Window(night) : night.reason, c.window);
  }

  // Every night of late May in Fairbanks: one sunrise each, the morning after.
  ScopedTimeZone zone("America/Anchorage");
  const calendar::Season fairbanks = SeasonOf(
      "[location]\nlatitude = 64.84\nlongitude = -147.72\n[[show]]\nstart = "
      "\"sunset\"\nend = \"sunrise\"\n");
  std::optional<std::int64_t> lastEnd;
  for (Date date{2026, 5, 20}; date.day <= 28; date = calendar::AddDays(date, 1)) {
    SCOPED_TRACE(calendar::IsoDate(date));
    const calendar::Night night = fairbanks.NightOf(date);
    ASSERT_TRUE(night.HasShow()) << night.reason;
    EXPECT_EQ(calendar::ToLocal(*night.end).date, calendar::AddDays(date, 1));
    EXPECT_GT(*night.end - *night.start, 4 * 3600 - 20 * 60);
    EXPECT_LT(*night.end - *night.start, 5 * 3600);
    if (lastEnd) {
      EXPECT_NEAR(static_cast<double>(*night.end - *lastEnd), 86400.0 - 200.0, 60.0);
    }
    lastEnd = night.end;
  }
}

// A night whose start and end both fall in the hour the clocks skip became
// a show of no time in the preview; it is no show, and says why.
TEST(SeasonTest, ANightInsideTheSkippedHourIsNoShowAndSaysWhy) {
  ScopedTimeZone zone("America/New_York");
  const calendar::Season season =
      SeasonOf("[[show]]\ndates = \"03-14..03-15\"\nstart = \"2:10 AM\"\nend = \"2:40 AM\"\n");
  const calendar::Night gap = season.NightOf({2027, 3, 14});
  EXPECT_FALSE(gap.HasShow());
  EXPECT_EQ(gap.reason,
            "line 1 (03-14..03-15): start 2:10 AM and end 2:40 AM both fall in the time the clocks "
            "skip on this date, so the night has no time");
  EXPECT_EQ(calendar::PreviewLine(gap), "Sun 2027-03-14  no show: " + gap.reason);
  EXPECT_EQ(Window(season.NightOf({2027, 3, 15})),
            "2027-03-15T02:10:00-04:00 2027-03-15T02:40:00-04:00");
}

TEST(SeasonTest, DuskStartsSayWhereTheyCameFrom) {
  ScopedTimeZone zone("Europe/Amsterdam");
  const calendar::Season season = SeasonOf(R"([location]
latitude = 52.37
longitude = 4.89
[[show]]
start = "sunset+15m"
end = "11:30 PM"
volume = 80
)");
  const calendar::Night night = season.NightOf({2026, 11, 27});
  ASSERT_TRUE(night.HasShow());
  // The whole minute of dusk and the reason's dusk are checked against the
  // calendar preview's expected file; here, the words a start from the sun
  // is shown with.
  EXPECT_EQ(night.startFromSun, "sunset + 15 min");
  EXPECT_EQ(calendar::NextShowText(night),
            calendar::DayAndClockText(*night.start) + " (sunset + 15 min)");
}

TEST(SeasonTest, PreviewLines) {
  ScopedTimeZone zone("Europe/Amsterdam");
  const calendar::Season season = SeasonOf(R"([[show]]
dates = "11-27..01-06"
start = "5:30 PM"
end = "1:00 AM"
volume = 80
[[show]]
dates = "12-25"
off = true
)");
  EXPECT_EQ(calendar::PreviewLine(season.NightOf({2026, 12, 24})),
            "Thu 2026-12-24  Thu 24 Dec, 5:30 PM to Fri 25 Dec, 1:00 AM  volume 80%  line 1 "
            "(11-27..01-06)");
  EXPECT_EQ(calendar::PreviewLine(season.NightOf({2026, 12, 25})),
            "Fri 2026-12-25  no show: off: line 6 (12-25) over line 1 (fewer dates)");
}

}  // namespace
