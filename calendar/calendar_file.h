#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "calendar/civil_date.h"
#include "calendar/sun.h"

namespace calendar {

// A show time as written: a clock time, or sunrise or sunset moved by an
// offset.
struct NightTime {
  enum class Kind { Clock, Sunset, Sunrise };
  Kind kind = Kind::Clock;
  int seconds = 0;   // Clock: since midnight; sun: the offset, may be negative
  std::string text;  // as the file writes it
};

struct MonthDay {
  int month = 1;
  int day = 1;
};

// One [[show]] of the file.
struct Rule {
  int line = 0;      // of its [[show]] header
  std::string name;  // as the file names it; empty when it does not
  // Inclusive, may wrap the year; none: every date.
  std::optional<MonthDay> from, to;
  unsigned days = 0;  // bit 0 Monday to bit 6 Sunday; 0: every day
  std::optional<NightTime> start, end;
  int volume = 100;  // percent of full
  bool off = false;

  // Dates in the range, counted on a leap year: 1 for one date, 366 for
  // every date.
  int DateCount() const;
  bool NamesDays() const { return days != 0; }
  bool Covers(const Date& date) const;
  // "11-27..01-06", "12-25" or "every date".
  std::string DatesText() const;
};

struct CalendarFile {
  std::optional<Location> location;
  std::vector<Rule> rules;  // in file order
};

struct ParsedCalendar {
  std::optional<CalendarFile> calendar;
  // What is wrong and where ("line 7: days: ..."), when there is no calendar.
  std::string error;
};

// Reads a whole calendar.toml text. A text with any mistake is refused
// whole, with the line of its first mistake and what is wrong there.
ParsedCalendar ParseCalendar(std::string_view text);

// "5:30 PM", "17:30", "5:30:00 PM", "sunset", "sunset-10m", "sunrise+1h30m";
// nothing when the text is none of those.
std::optional<NightTime> ParseNightTime(std::string_view text);

// The file in `folder`: nothing when there is none; otherwise its text or why
// it cannot be read.
struct CalendarText {
  bool exists = false;
  std::string text;
  std::string error;
};
inline constexpr const char* kCalendarFileName = "calendar.toml";
CalendarText ReadCalendarText(const std::string& folder);

}  // namespace calendar
