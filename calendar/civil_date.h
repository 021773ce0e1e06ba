#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace calendar {

// A date of the Gregorian calendar, without a time zone.
struct Date {
  int year = 1970;
  int month = 1;  // 1 to 12
  int day = 1;    // 1 to 31

  friend bool operator==(const Date&, const Date&) = default;
  friend auto operator<=>(const Date&, const Date&) = default;
};

// Days since 1970-01-01 (negative before it), and back.
std::int64_t DayNumber(const Date& date);
Date FromDayNumber(std::int64_t days);
Date AddDays(const Date& date, std::int64_t days);

// 0 Monday to 6 Sunday.
int Weekday(const Date& date);
bool IsLeapYear(int year);
int DaysInMonth(int year, int month);

// "2026-11-27"; nothing when the text is not a real date in that form.
std::optional<Date> ParseIsoDate(std::string_view text);
std::string IsoDate(const Date& date);

// "Mon" to "Sun" for 0 to 6, "Jan" to "Dec" for 1 to 12.
const char* WeekdayName(int weekday);
const char* MonthName(int month);

}  // namespace calendar
