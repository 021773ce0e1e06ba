#include "playback/show_calendar.h"

#include <cctype>
#include <string>

#include "calendar/local_time.h"

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

platform::Result<int> ParseLineRate(std::string_view text) {
  for (const int rate : kLineRates) {
    if (text == std::to_string(rate)) return rate;
  }
  return platform::Result<int>::Error("The baud rate \"" + std::string(text) +
                                      "\" is not one the controllers take: choose 56000 or "
                                      "115200");
}

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

ShowTime ReadShowTime(platform::Clock& clock) {
  return {clock.UnixSeconds(), clock.SecondsOfDay()};
}

namespace {

// Both times of the daily window, or why they are not one.
struct DailyTimes {
  int start = 0, end = 0;
  std::string problem;
};

DailyTimes ReadDailyTimes(const ShowSettings& settings) {
  DailyTimes times;
  const std::optional<int> start = settings.startTime.Seconds();
  const std::optional<int> end = settings.endTime.Seconds();
  if (!start) {
    times.problem = BadTimeText("start", settings.startTime.Text());
  } else if (!end) {
    times.problem = BadTimeText("end", settings.endTime.Text());
  } else if (*start > *end) {
    times.problem = kStartAfterEndText;
  } else {
    times.start = *start;
    times.end = *end;
  }
  return times;
}

// The window of the day that `midnight` begins.
ShowNight DailyNight(const ShowSettings& settings, const DailyTimes& times, std::int64_t midnight) {
  ShowNight night;
  night.start = midnight + times.start;
  night.end = midnight + times.end;
  night.startText = settings.startTime.Text();
  night.endText = settings.endTime.Text();
  night.opensText = calendar::DayAndClockText(night.start);
  return night;
}

}  // namespace

ShowCalendar::Answer DailyWindow::NightAt(const ShowSettings& settings, const ShowTime& at) const {
  const DailyTimes times = ReadDailyTimes(settings);
  Answer answer;
  answer.problem = times.problem;
  if (times.problem.empty() && times.start - at.secondsOfDay < 1 &&
      times.end - at.secondsOfDay > -1) {
    answer.night = DailyNight(settings, times, at.unixSeconds - at.secondsOfDay);
  }
  return answer;
}

std::optional<ShowNight> DailyWindow::NextNightAfter(const ShowSettings& settings,
                                                     const ShowTime& at) const {
  const DailyTimes times = ReadDailyTimes(settings);
  if (!times.problem.empty()) return std::nullopt;
  const std::int64_t midnight = at.unixSeconds - at.secondsOfDay;
  return DailyNight(settings, times,
                    at.secondsOfDay < times.start ? midnight : midnight + platform::kSecondsPerDay);
}

ShowEvent DailyWindow::PausedEvent(const ShowSettings& settings, const ShowTime& at) const {
  if (ReadDailyTimes(settings).problem == kStartAfterEndText) return show_event::PausedNeverOpens();
  return ShowCalendar::PausedEvent(settings, at);
}

bool ShowCalendar::InsideNow(const ShowSettings& settings, platform::Clock& clock) const {
  return NightAt(settings, ReadShowTime(clock)).night.has_value();
}

std::optional<int> ShowCalendar::SecondsToNextOpening(const ShowSettings& settings,
                                                      platform::Clock& clock) const {
  const ShowTime now = ReadShowTime(clock);
  if (NightAt(settings, now).night) return 0;
  const std::optional<ShowNight> next = NextNightAfter(settings, now);
  if (!next) return std::nullopt;
  return static_cast<int>(next->start - now.unixSeconds);
}

std::string ShowCalendar::NextOpeningText(const ShowSettings& settings,
                                          platform::Clock& clock) const {
  const ShowTime now = ReadShowTime(clock);
  std::optional<ShowNight> night = NightAt(settings, now).night;
  if (!night) night = NextNightAfter(settings, now);
  return night ? night->opensText : std::string();
}

ShowEvent ShowCalendar::PausedEvent(const ShowSettings& settings, const ShowTime&) const {
  return show_event::Paused(settings.startTime.Text(), settings.endTime.Text());
}

std::string NextShowText(const std::string& when) {
  return "Next show: " + when;
}

std::optional<ShowNight> ShowCalendar::TonightOrNext(const ShowSettings& settings,
                                                     platform::Clock& clock) const {
  const ShowTime now = ReadShowTime(clock);
  std::optional<ShowNight> night = NightAt(settings, now).night;
  if (!night) night = NextNightAfter(settings, now);
  return night;
}

std::string NextShowLine(const ShowNight& night, std::int64_t now) {
  // Tonight's night, under way: named by its own start, with its end.
  if (now < night.start) return NextShowText(night.opensText);
  return NextShowText(night.opensText + ", open until " +
                      calendar::ClockText(calendar::ToLocal(night.end).secondsOfDay));
}
}  // namespace playback
