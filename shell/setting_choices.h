#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

// What the window's five setting lists offer and which entry each falls back
// to, for the window and for the programs that read its settings without it.
namespace shell {

// "h:mm:ss AM" on a 12-hour clock whose first hour is 12, no leading zero:
// 0 -> "12:00:00 AM", 63000 -> "5:30:00 PM". Seconds are taken modulo a day.
std::string TimeOfDayText(int secondsAfterMidnight);

// A show given the whole day (a single song played now) runs between these.
inline constexpr const char* kFirstSecondOfDay = "12:00:00 AM";
inline constexpr const char* kLastSecondOfDay = "11:59:59 PM";

// The COM port and frame timing lists are the whole numbers 1 to these.
inline constexpr int kHighestPort = 16;
inline constexpr int kHighestFrameTiming = 10;

// One list: its entries in order, and the one it selects when the saved
// value is none of them.
struct ChoiceList {
  std::vector<std::string> entries;
  std::size_t defaultIndex;

  const std::string& Default() const { return entries[defaultIndex]; }
  // The entry a saved value is: only an exact one (blanks, leading zeros and
  // case included); nothing for any other.
  std::optional<std::size_t> IndexOf(const std::string& saved) const;
  // The entry a saved value selects: itself, or else the default.
  const std::string& Chosen(const std::string& saved) const;
};

const ChoiceList& PortChoices();         // "1" to "16"; "1"
const ChoiceList& DataRateChoices();     // "56000", "115200"; "115200"
const ChoiceList& FrameTimingChoices();  // "1" to "10"; "5"
// The 96 quarter hours from 12:00:00 AM; "5:30:00 PM".
const ChoiceList& StartTimeChoices();
// The quarter hours and the day's last second, so a show can run to the end
// of the day; "11:00:00 PM".
const ChoiceList& EndTimeChoices();

}  // namespace shell
