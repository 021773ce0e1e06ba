#pragma once

#include <cstdint>
#include <string>

#include "calendar/civil_date.h"

namespace calendar {

// Wall-clock times of the C library's local time zone (TZ), worked out for
// each date. A program that changes TZ calls tzset() before asking again.
// On Windows the zone is the system's, or the one UseWindowsZone chose.

// The moment (seconds since the epoch) at which the clocks of that date show
// `secondsOfDay` (0 to 86399). A time the clocks skip (02:30 on the spring
// change) is the first moment after the gap; a time they show twice (01:30
// on the autumn change) is its first occurrence.
std::int64_t LocalMoment(const Date& date, int secondsOfDay);

struct LocalTime {
  Date date;
  int secondsOfDay = 0;
  int utcOffsetSeconds = 0;
};
LocalTime ToLocal(std::int64_t moment);

// "2026-11-27T17:12:00+01:00".
std::string Iso8601(std::int64_t moment);
// "5:12 PM", or "5:12:30 PM" when the seconds are not zero.
std::string ClockText(int secondsOfDay);
// "Fri 27 Nov, 5:12 PM" for a moment.
std::string DayAndClockText(std::int64_t moment);

}  // namespace calendar
