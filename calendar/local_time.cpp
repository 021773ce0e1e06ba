#include "calendar/local_time.h"

#include <cstdio>
#include <ctime>
#include <optional>

#include "calendar/windows_zone.h"
#include "platform/local_clock_face.h"

namespace calendar {
namespace {

constexpr std::int64_t kDay = 86400;

// The wall clock at `moment`, counted as if it were UTC: seconds since
// 1970-01-01 00:00 of the local calendar. It runs with the moment except
// where the clocks jump.
std::int64_t WallSeconds(std::int64_t moment) {
  const LocalTime local = ToLocal(moment);
  return DayNumber(local.date) * kDay + local.secondsOfDay;
}

int OffsetAt(std::int64_t moment) {
  return ToLocal(moment).utcOffsetSeconds;
}

}  // namespace

LocalTime ToLocal(std::int64_t moment) {
#ifdef _WIN32
  const int offset = WindowsUtcOffsetAt(moment);
  const std::int64_t wall = moment + offset;
  // Floor division: wall clocks before 1970 count back from the day's start.
  const std::int64_t days = wall / kDay - (wall % kDay < 0 ? 1 : 0);
  LocalTime local;
  local.date = FromDayNumber(days);
  local.secondsOfDay = static_cast<int>(wall - days * kDay);
  local.utcOffsetSeconds = offset;
  return local;
#else
  const std::tm parts = platform::LocalClockFace(static_cast<std::time_t>(moment));
  LocalTime local;
  local.date = Date{parts.tm_year + 1900, parts.tm_mon + 1, parts.tm_mday};
  local.secondsOfDay = parts.tm_hour * 3600 + parts.tm_min * 60 + parts.tm_sec;
  local.utcOffsetSeconds = static_cast<int>(parts.tm_gmtoff);
  return local;
#endif
}

// mktime leaves both the skipped and the repeated hour to the C library's
// taste (glibc moves a skipped time by the wrong hour for some zones and picks
// either occurrence of a repeated one), so the moment is found from the
// zone's offsets instead: every offset in force around that wall time gives
// a candidate, a candidate counts only if the clocks really show the wanted
// time then, and the earliest of those wins.
std::int64_t LocalMoment(const Date& date, int secondsOfDay) {
  const std::int64_t wall = DayNumber(date) * kDay + secondsOfDay;
  std::optional<std::int64_t> best;
  for (const std::int64_t probe : {wall - kDay, wall, wall + kDay}) {
    const std::int64_t candidate = wall - OffsetAt(probe);
    if (WallSeconds(candidate) == wall && (!best || candidate < *best)) best = candidate;
  }
  if (best) return *best;
  // The clocks skip this time: the first moment whose wall clock is past it
  // is the end of the gap. Within a day of a gap the wall clock only rises.
  std::int64_t low = wall - 2 * kDay;   // wall clock before the wanted time
  std::int64_t high = wall + 2 * kDay;  // and after it
  while (high - low > 1) {
    const std::int64_t middle = low + (high - low) / 2;
    if (WallSeconds(middle) >= wall) {
      high = middle;
    } else {
      low = middle;
    }
  }
  return high;
}

std::string Iso8601(std::int64_t moment) {
  const LocalTime local = ToLocal(moment);
  const int offset = local.utcOffsetSeconds;
  const int absolute = offset < 0 ? -offset : offset;
  char text[64];
  std::snprintf(text, sizeof text, "%sT%02d:%02d:%02d%c%02d:%02d", IsoDate(local.date).c_str(),
                local.secondsOfDay / 3600, local.secondsOfDay / 60 % 60, local.secondsOfDay % 60,
                offset < 0 ? '-' : '+', absolute / 3600, absolute / 60 % 60);
  return text;
}

std::string ClockText(int secondsOfDay) {
  const int hours = secondsOfDay / 3600;
  const int minutes = secondsOfDay / 60 % 60;
  const int seconds = secondsOfDay % 60;
  const int twelve = hours % 12 == 0 ? 12 : hours % 12;
  const char* half = hours < 12 ? "AM" : "PM";
  char text[32];
  if (seconds != 0) {
    std::snprintf(text, sizeof text, "%d:%02d:%02d %s", twelve, minutes, seconds, half);
  } else {
    std::snprintf(text, sizeof text, "%d:%02d %s", twelve, minutes, half);
  }
  return text;
}

std::string DayAndClockText(std::int64_t moment) {
  const LocalTime local = ToLocal(moment);
  char text[64];
  std::snprintf(text, sizeof text, "%s %d %s, %s", WeekdayName(Weekday(local.date)), local.date.day,
                MonthName(local.date.month), ClockText(local.secondsOfDay).c_str());
  return text;
}

}  // namespace calendar
