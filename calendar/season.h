#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "calendar/calendar_file.h"
#include "calendar/civil_date.h"

namespace calendar {

// What a calendar gives one date: its night's window, or no show and why.
struct Night {
  Date date;  // the night's start date, which it belongs to
  // Seconds since the epoch; the window is start <= now < end. Both or neither.
  std::optional<std::int64_t> start, end;
  int volume = 100;
  int ruleLine = 0;  // the rule that decided the date; 0: none did
  // Which rule holds and why it beat the others, dusk and dawn used, or why
  // there is no show.
  std::string reason;
  // "sunset + 15 min" for a start tied to the sun; empty for a clock time.
  std::string startFromSun;
  // The night was cut short because the next one opens before it would end.
  bool cutByNext = false;

  bool HasShow() const { return start.has_value(); }
};

// The rule for a night, in one sentence: the help and the README say it.
inline constexpr const char* kRuleSentence =
    "For each date the rule with the fewest dates wins among those whose dates and days "
    "contain it; on a tie the rule that names days, then the later one in the file.";

// The nights of a calendar. Every answer follows from the file and the moment
// asked about alone, whoever asks and in whatever order. The last answer
// about "now" is remembered until the next night opens or closes: a show
// asks ten times a second, and working a few dates' rules and sun times out
// afresh each time made a simulated season take minutes.
class Season {
 public:
  explicit Season(CalendarFile file);

  // The night that starts on `date`.
  Night NightOf(const Date& date) const;
  // The night whose window holds `now`, if any.
  std::optional<Night> InsideNow(std::int64_t now) const;
  // The first night to open after `now` (within a year and a day).
  std::optional<Night> NextOpening(std::int64_t now) const;

  const CalendarFile& File() const { return file_; }

 private:
  // The night open at `now` and the first to open after it.
  struct Around {
    std::optional<Night> inside, next;
  };
  Around NightsAround(std::int64_t now) const;
  const Around& RememberedAround(std::int64_t now) const;
  Night BaseNight(const Date& date) const;

  CalendarFile file_;
  // A memo of NightsAround: its answer and the moments between which it
  // holds unchanged.
  mutable Around remembered_;
  mutable std::int64_t rememberedFrom_ = 0, rememberedUntil_ = 0;
};

// One line of the preview: "Fri 2026-11-27  5:12 PM Fri 27 Nov to 11:30 PM
// Fri 27 Nov  volume 80%  line 9 ..." or "... no show: ...".
std::string PreviewLine(const Night& night);
// The nights as a JSON array of objects with date, start, end, volume,
// rule_line and reason.
std::string PreviewJson(const std::vector<Night>& nights);
// "Fri 27 Nov, 5:12 PM (sunset + 15 min)".
std::string NextShowText(const Night& night);

}  // namespace calendar
