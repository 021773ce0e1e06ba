#include "playback/show_calendar.h"

#include <cctype>
#include <cstdio>
#include <string>

#include "calendar/local_time.h"
#include "playback/show_log.h"

namespace playback {
namespace {

bool ReadNumber(std::string_view text, std::size_t& at, int& value) {
  const std::size_t begin = at;
  value = 0;
  while (at < text.size() && std::isdigit(static_cast<unsigned char>(text[at])) && at - begin < 2) {
    value = value * 10 + (text[at] - '0');
    ++at;
  }
  return at > begin;
}

void SkipBlanks(std::string_view text, std::size_t& at) {
  while (at < text.size() && text[at] == ' ') ++at;
}

// A time text that is not a time keeps the show paused and says which one.
std::string BadTimeText(const char* which, const std::string& text) {
  return std::string("The ") + which + " time \"" + text +
         "\" is not a time of day such as 5:30:00 PM; the show waits";
}

}  // namespace

std::optional<int> ParseTimeOfDay(std::string_view text) {
  std::size_t at = 0;
  SkipBlanks(text, at);
  int hours = 0, minutes = 0, seconds = 0;
  if (!ReadNumber(text, at, hours)) return std::nullopt;
  if (at >= text.size() || text[at] != ':') return std::nullopt;
  ++at;
  if (!ReadNumber(text, at, minutes)) return std::nullopt;
  if (at < text.size() && text[at] == ':') {
    ++at;
    if (!ReadNumber(text, at, seconds)) return std::nullopt;
  }
  SkipBlanks(text, at);
  std::string suffix;
  for (; at < text.size(); ++at) {
    suffix.push_back(static_cast<char>(std::toupper(static_cast<unsigned char>(text[at]))));
  }
  while (!suffix.empty() && suffix.back() == ' ') suffix.pop_back();
  if (minutes > 59 || seconds > 59) return std::nullopt;
  if (suffix == "AM" || suffix == "PM") {
    if (hours < 1 || hours > 12) return std::nullopt;
    hours %= 12;  // 12 AM is midnight, 12 PM noon
    if (suffix == "PM") hours += 12;
  } else if (!suffix.empty() || hours > 23) {
    return std::nullopt;
  }
  return hours * 3600 + minutes * 60 + seconds;
}

ShowCalendar::Answer DailyWindow::InsideNow(const ShowSettings& settings,
                                            platform::Clock& clock) const {
  const int now = clock.SecondsOfDay();
  const std::optional<int> start = ParseTimeOfDay(settings.startTimeText);
  const std::optional<int> end = ParseTimeOfDay(settings.endTimeText);
  Answer answer;
  if (!start) {
    answer.problem = BadTimeText("start", settings.startTimeText);
  } else if (!end) {
    answer.problem = BadTimeText("end", settings.endTimeText);
  } else if (*start > *end) {
    answer.problem = kStartAfterEndText;
  } else {
    answer.inside = *start - now < 1 && *end - now > -1;
  }
  return answer;
}

bool DailyWindow::EndedNow(const ShowSettings& settings, platform::Clock& clock) const {
  const std::optional<int> end = ParseTimeOfDay(settings.endTimeText);
  return !end || *end - clock.SecondsOfDay() < 1;
}

std::optional<int> DailyWindow::SecondsToNextOpening(const ShowSettings& settings,
                                                     platform::Clock& clock) const {
  const std::optional<int> start = ParseTimeOfDay(settings.startTimeText);
  const std::optional<int> end = ParseTimeOfDay(settings.endTimeText);
  if (!start || !end || *start > *end) return std::nullopt;
  const int now = clock.SecondsOfDay();
  if (now >= *start && now <= *end) return 0;
  return now < *start ? *start - now : platform::kSecondsPerDay - now + *start;
}

std::string DailyWindow::PausedEvent(const ShowSettings& settings, platform::Clock& clock) const {
  const std::optional<int> start = ParseTimeOfDay(settings.startTimeText);
  const std::optional<int> end = ParseTimeOfDay(settings.endTimeText);
  if (start && end && *start > *end) return std::string("Show paused: ") + kStartAfterEndText;
  return ShowCalendar::PausedEvent(settings, clock);
}

std::string ShowCalendar::NextOpeningText(const ShowSettings& settings,
                                          platform::Clock& clock) const {
  const std::optional<int> seconds = SecondsToNextOpening(settings, clock);
  if (!seconds) return {};
  return calendar::DayAndClockText(clock.UnixSeconds() + *seconds);
}

std::string ShowCalendar::PausedEvent(const ShowSettings& settings, platform::Clock&) const {
  return show_event::Paused(settings.startTimeText, settings.endTimeText);
}

std::string NextShowText(const std::string& when) {
  return "Next show: " + when;
}

std::optional<ShowNight> DailyWindow::TonightOrNext(const ShowSettings& settings,
                                                    platform::Clock& clock) const {
  const std::optional<int> start = ParseTimeOfDay(settings.startTimeText);
  const std::optional<int> end = ParseTimeOfDay(settings.endTimeText);
  if (!start || !end || *start > *end) return std::nullopt;
  const int now = clock.SecondsOfDay();
  const std::int64_t midnight = clock.UnixSeconds() - now;
  // Past today's end the next night is tomorrow's.
  const std::int64_t day = now > *end ? midnight + platform::kSecondsPerDay : midnight;
  return ShowNight{day + *start, day + *end, settings.startTimeText, settings.endTimeText, 100, {}};
}

std::string TimeOfDayAt(std::int64_t moment) {
  const int seconds = calendar::ToLocal(moment).secondsOfDay;
  const int hours = seconds / 3600;
  char text[16];
  std::snprintf(text, sizeof text, "%d:%02d:%02d %s", hours % 12 == 0 ? 12 : hours % 12,
                seconds / 60 % 60, seconds % 60, hours < 12 ? "AM" : "PM");
  return text;
}

std::string NextShowLine(const ShowNight& night, std::int64_t now) {
  std::string when = calendar::DayAndClockText(night.start);
  if (!night.startFromSun.empty()) when += " (" + night.startFromSun + ")";
  // Tonight's night, under way: named by its own start, with its end.
  if (now >= night.start) {
    when += ", open until " + calendar::ClockText(calendar::ToLocal(night.end).secondsOfDay);
  }
  return NextShowText(when);
}

}  // namespace playback
