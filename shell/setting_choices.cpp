#include "shell/setting_choices.h"

#include <algorithm>
#include <cstdio>
#include <utility>

#include "platform/clock.h"

namespace shell {

namespace {

std::vector<std::string> Numbers(int from, int to) {
  std::vector<std::string> numbers;
  for (int n = from; n <= to; ++n) numbers.push_back(std::to_string(n));
  return numbers;
}

std::vector<std::string> QuarterHourTimes() {
  std::vector<std::string> times;
  times.reserve(97);
  for (int k = 0; k < 96; ++k) times.push_back(TimeOfDayText(k * 900));
  return times;
}

}  // namespace

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

std::optional<std::size_t> ChoiceList::IndexOf(const std::string& saved) const {
  const auto found = std::find(entries.begin(), entries.end(), saved);
  if (found == entries.end()) return std::nullopt;
  return static_cast<std::size_t>(found - entries.begin());
}

const std::string& ChoiceList::Chosen(const std::string& saved) const {
  return entries[IndexOf(saved).value_or(defaultIndex)];
}

const ChoiceList& PortChoices() {
  static const ChoiceList list{Numbers(1, kHighestPort), 0};
  return list;
}

const ChoiceList& DataRateChoices() {
  static const ChoiceList list{{"56000", "115200"}, 1};
  return list;
}

const ChoiceList& FrameTimingChoices() {
  static const ChoiceList list{Numbers(1, kHighestFrameTiming), 4};
  return list;
}

const ChoiceList& StartTimeChoices() {
  static const ChoiceList list{QuarterHourTimes(), 70};
  return list;
}

const ChoiceList& EndTimeChoices() {
  static const ChoiceList list = [] {
    std::vector<std::string> times = QuarterHourTimes();
    times.emplace_back(kLastSecondOfDay);
    return ChoiceList{std::move(times), 92};
  }();
  return list;
}

}  // namespace shell
