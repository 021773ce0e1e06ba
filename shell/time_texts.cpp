#include "shell/time_texts.h"

#include <cstdio>

#include "platform/clock.h"

namespace shell {

std::string TimeOfDayText(int secondsAfterMidnight) {
  int s = secondsAfterMidnight % platform::kSecondsPerDay;
  if (s < 0) s += platform::kSecondsPerDay;
  const int hour24 = s / 3600;
  const int hour12 = hour24 % 12 == 0 ? 12 : hour24 % 12;
  char text[16];
  std::snprintf(text, sizeof text, "%d:%02d:%02d %s", hour12, (s / 60) % 60, s % 60,
                hour24 < 12 ? "AM" : "PM");
  return text;
}

std::vector<std::string> QuarterHourTimes() {
  std::vector<std::string> times;
  times.reserve(96);
  for (int k = 0; k < 96; ++k) times.push_back(TimeOfDayText(k * 900));
  return times;
}

}  // namespace shell
