#include "calendar/calendar_file.h"

#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <tuple>
#include <utility>

namespace {

using calendar::NightTime;
using calendar::ParseCalendar;

TEST(CalendarFileTest, ReadsEveryFormOfShowTime) {
  using enum NightTime::Kind;
  const std::tuple<const char*, NightTime::Kind, int> cases[] = {
      {"5:30 PM", Clock, 63000},     {"17:30", Clock, 63000},
      {"5:30:00 PM", Clock, 63000},  {"5:30:15 pm", Clock, 63015},
      {"12:00 AM", Clock, 0},        {"12:30 PM", Clock, 45000},
      {"0:15", Clock, 900},          {"sunset", Sunset, 0},
      {"sunset-10m", Sunset, -600},  {"sunset + 15 min", Sunset, 900},
      {"Sunrise+1h", Sunrise, 3600}, {"sunrise-1h30m", Sunrise, -5400},
      {"sunset+12h", Sunset, 43200}};
  for (const auto& [text, kind, seconds] : cases) {
    const auto when = calendar::ParseNightTime(text);
    ASSERT_TRUE(when) << text;
    EXPECT_EQ(std::pair(when->kind, when->seconds), std::pair(kind, seconds)) << text;
  }
  for (const char* text : {"", "noon", "5 PM", "5:3 PM", "13:00 PM", "0:30 AM", "24:00", "5:60",
                           "sunset+", "sunset+15", "sunset 15m", "sunset+15s", "sunset+12h1m",
                           "sunset+1m1h", "dusk", "sunsetx"}) {
    EXPECT_FALSE(calendar::ParseNightTime(text)) << text;
  }
}

TEST(CalendarFileTest, ReadsDateRangesThatWrapTheYear) {
  const auto parsed = ParseCalendar(R"([[show]]
dates = "12-30..01-02"
start = "6:00 PM"
end = "9:00 PM"
[[show]]
dates = "02-29"
start = "6:00 PM"
end = "9:00 PM"
)");
  ASSERT_TRUE(parsed.calendar) << parsed.error;
  const calendar::Rule& wrap = parsed.calendar->rules[0];
  EXPECT_EQ(wrap.DateCount(), 4);
  EXPECT_EQ(std::tuple(wrap.Covers({2026, 12, 30}), wrap.Covers({2027, 1, 2}),
                       wrap.Covers({2027, 1, 3}), wrap.Covers({2026, 12, 29})),
            std::tuple(true, true, false, false));
  const calendar::Rule& leap = parsed.calendar->rules[1];
  EXPECT_TRUE(leap.Covers({2028, 2, 29}));
  EXPECT_FALSE(leap.Covers({2027, 3, 1}));
}

TEST(CalendarFileTest, RefusesEveryKindOfMistakeWithItsLine) {
  const std::string times = "start = \"6:00 PM\"\nend = \"9:00 PM\"\n";
  // The whole message, or its beginning when it ends in "...".
  const std::pair<std::string, std::string> cases[] = {
      {"[location]\nlatitude = 52.37\nlongitude = 4.89\n\n[[show]]\nstart = \"sunset\"\n"
       "days = [\"Fir\"]\nend = \"11:30 PM\"\n",
       "line 7: days: \"Fir\" is not a day; use Mon, Tue, Wed, Thu, Fri, Sat, Sun"},
      {"[[show]]\ndates = \"13-01\"\n" + times,
       "line 2: dates: \"13-01\" is not a date; write a month and day as 11-27, or a range as "
       "11-27..01-06"},
      {"[[show]]\ndates = \"11-27..02-30\"\n" + times,
       "line 2: dates: \"02-30\" is not a date; ..."},
      {"[[show]]\ndates = \"11-27..1-6\"\n" + times, "line 2: dates: \"1-6\" is not a date; ..."},
      {"[[show]]\ndates = 1127\n" + times, "line 2: dates: 1127 is not a text; ..."},
      {"[[show]]\ndays = \"Fri\"\n" + times,
       "line 2: days: \"Fri\" is not a list of days; write days = [\"Fri\", \"Sat\"]"},
      {"[[show]]\ndays = []\n" + times,
       "line 2: days: the list is empty; leave days out for every day"},
      {"[[show]]\ndays = [\"Fri\",\n  5]\n" + times,
       "line 3: days: 5 is not a day; use Mon, Tue, Wed, Thu, Fri, Sat, Sun"},
      {"[[show]]\nstart = \"25:00\"\nend = \"9:00 PM\"\n",
       "line 2: start: \"25:00\" is not a time; write 5:30 PM, 17:30, 5:30:00 PM, sunset, "
       "sunset-10m or sunrise+1h (an offset of at most 12 hours)"},
      {"[location]\nlatitude = 1\nlongitude = 2\n[[show]]\nstart = \"6:00 PM\"\nend = "
       "\"sunrise+13h\"\n",
       "line 6: end: \"sunrise+13h\" is not a time; ..."},
      {"[[show]]\nstart = 1730\nend = \"9:00 PM\"\n", "line 2: start: 1730 is not a time; ..."},
      {"[[show]]\ndates = \"12-24\"\nend = \"9:00 PM\"\n",
       "line 1: [[show]]: start is missing; a show needs start and end, or off = true"},
      {"\n[[show]]\nstart = \"9:00 PM\"\n",
       "line 2: [[show]]: end is missing; a show needs start and end, or off = true"},
      {"[[show]]\nstart = \"sunset+15m\"\nend = \"11:30 PM\"\n",
       "line 2: start: \"sunset+15m\" needs the place: add [location] with latitude and "
       "longitude"},
      {"[[show]]\nstart = \"9:00 PM\"\nend = \"21:00\"\n",
       "line 3: end: \"21:00\" is the start time too; a night needs an end other than its start"},
      {"[[show]]\n" + times + "volume = 120\n",
       "line 4: volume: 120 is not a whole percent from 0 to 100; leave it out for 100"},
      {"[[show]]\n" + times + "volume = 100.0\n",
       "line 4: volume: 100.0 has a decimal point; a percent is written as a whole number: "
       "volume = 100"},
      {"[[show]]\n" + times + "volume = 80.5\n",
       "line 4: volume: 80.5 is not a whole percent from 0 to 100; ..."},
      {"[[show]]\n" + times + "volume = \"80\"\n",
       "line 4: volume: \"80\" is not a whole percent from 0 to 100; ..."},
      {"[[show]]\ndates = \"12-25\"\noff = \"yes\"\n",
       "line 3: off: \"yes\" is neither true nor false"},
      {"[[show]]\ndates = \"12-25\"\noff = true\nstart = \"6:00 PM\"\n",
       "line 4: a show that is off has no start or end; leave them out, or write off = false"},
      {"[[show]]\nstart = \"6:00 PM\"\nstrat = \"7:00 PM\"\nend = \"9:00 PM\"\n",
       "line 3: \"strat\" is not a setting of a show; use dates, days, start, end, volume, off, "
       "name"},
      {"[[show]]\nname = 5\n" + times,
       "line 2: name: 5 is not a name; write name = \"Christmas week\" or leave it out"},
      {"[[show]]\nname = \"\"\n" + times, "line 2: name: \"\" is not a name; ..."},
      {"[[show]]\ndays = [\"Satur\"]\n" + times,
       "line 2: days: \"Satur\" is not a day; use Mon, Tue, Wed, Thu, Fri, Sat, Sun"},
      {"title = \"Lights\"\n[[show]]\n" + times,
       "line 1: \"title\" is not part of a calendar; use [location] and [[show]]"},
      {"[show]\n" + times, "line 1: show: write [[show]] (two brackets) above each rule"},
      {"[location]\nlongitude = 4.89\n[[show]]\n" + times,
       "line 1: [location]: latitude is missing"},
      {"[location]\nlatitude = 95\nlongitude = 4.89\n[[show]]\n" + times,
       "line 2: latitude: 95 is not a number of degrees from -90 to 90"},
      {"[location]\nlatitude = 52\nlongitude = \"east\"\n",
       "line 3: longitude: \"east\" is not a number of degrees from -180 to 180"},
      {"[location]\nlatitude = 52\nlongitude = 4\nheight = 3\n",
       "line 4: \"height\" is not a setting of [location]; use latitude, longitude"},
      {"location = 5\n", "line 1: location: write [location] with latitude and longitude under it"},
      {"[location]\nlatitude = 52\nlongitude = 4\n",
       "line 1: the calendar has no [[show]]; without one there is never a show"},
  };
  for (const auto& [text, error] : cases) {
    SCOPED_TRACE(text);
    const auto parsed = ParseCalendar(text);
    EXPECT_FALSE(parsed.calendar);
    std::string expected = error;
    if (expected.size() > 3 && expected.substr(expected.size() - 3) == "...") {
      expected.resize(expected.size() - 3);
      EXPECT_EQ(parsed.error.substr(0, expected.size()), expected) << parsed.error;
    } else {
      EXPECT_EQ(parsed.error, expected);
    }
  }
  EXPECT_TRUE(ParseCalendar("[[show]]\n" + times).calendar);
}

// What the TOML reader cannot read at all is told in the calendar's own
// words, with the line and the column, and the reader's words last.
TEST(CalendarFileTest, TomlThatCannotBeReadIsToldWithItsLineAndColumn) {
  const std::string times = "start = \"6:00 PM\"\nend = \"9:00 PM\"\n";
  const std::pair<std::string, std::string> cases[] = {
      {"[[show]\n" + times,
       "^line 1, column [0-9]+: a heading is not closed; write \\[location\\]"},
      {"[[show]]\n" + times + "end = \"10:00 PM\"\n",
       "^line 4, column [0-9]+: a setting or table is there twice; keep one \\("},
      {"[[show]]\nstart = \"6:00 PM\nend = \"9:00 PM\"\n",
       "^line 2, column [0-9]+: a text is not closed; end it with \" on the same line \\("},
      {"[[show]]\ndays = [\"Fri\", \"Sat\"\n" + times,
       "^line [23], column [0-9]+: (a list is not closed|expected a setting)"},
      {"[[show]]\nstart 6 PM\n",
       "^line 2, column [0-9]+: expected a setting written as name = value"},
  };
  for (const auto& [text, pattern] : cases) {
    SCOPED_TRACE(text);
    const auto parsed = ParseCalendar(text);
    EXPECT_FALSE(parsed.calendar);
    EXPECT_TRUE(std::regex_search(parsed.error, std::regex(pattern))) << parsed.error;
    EXPECT_EQ(parsed.error.find("Error while parsing"), std::string::npos) << parsed.error;
  }
}

TEST(CalendarFileTest, DaysAreNamedShortOrInFullInAnyCase) {
  const auto parsed = ParseCalendar(
      "[[show]]\ndays = [\"Saturday\", \"sun\", \"FRIDAY\", \"Wed\"]\nstart = \"6:00 PM\"\n"
      "end = \"9:00 PM\"\nname = \"Weekends\"\n");
  ASSERT_TRUE(parsed.calendar) << parsed.error;
  const calendar::Rule& rule = parsed.calendar->rules.at(0);
  EXPECT_EQ(rule.days, (1u << 2) | (1u << 4) | (1u << 5) | (1u << 6));
  EXPECT_EQ(rule.name, "Weekends");
}

}  // namespace
