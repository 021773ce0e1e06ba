#pragma once

#include <string>
#include <vector>

namespace shell {

// "h:mm:ss AM" on a 12-hour clock whose first hour is 12, no leading zero:
// 0 -> "12:00:00 AM", 63000 -> "5:30:00 PM". Seconds are taken modulo a day.
std::string TimeOfDayText(int secondsAfterMidnight);

// The 96 quarter hours of a day, 12:00:00 AM to 11:45:00 PM.
std::vector<std::string> QuarterHourTimes();

// The end list has one entry more, so a show can run to the end of the day.
inline constexpr const char* kLastSecondOfDay = "11:59:59 PM";

}  // namespace shell
