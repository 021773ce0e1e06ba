#include "playback/calendar_file_window.h"

#include <utility>

#include "calendar/calendar_file.h"
#include "calendar/season.h"

namespace playback {

CalendarFileWindow::CalendarFileWindow(std::string folder) : folder_(std::move(folder)) {
  Reload();
}

CalendarFileWindow::~CalendarFileWindow() = default;

void CalendarFileWindow::Reload() const {
  season_.reset();
  problem_.clear();
  nightEnd_.reset();
  volume_ = 100;
  const calendar::CalendarText read = calendar::ReadCalendarText(folder_);
  inUse_ = read.exists;
  if (!read.exists) return;
  if (!read.error.empty()) {
    problem_ = read.error;
    return;
  }
  calendar::ParsedCalendar parsed = calendar::ParseCalendar(read.text);
  if (!parsed.calendar) {
    problem_ = std::string(calendar::kCalendarFileName) + " " + parsed.error;
    return;
  }
  season_ = std::make_unique<calendar::Season>(std::move(*parsed.calendar));
}

ShowCalendar::Answer CalendarFileWindow::InsideNow(const ShowSettings& settings,
                                                   platform::Clock& clock) const {
  if (!inUse_) return daily_.InsideNow(settings, clock);
  Answer answer;
  if (!season_) {
    answer.problem = CalendarRefusedText(problem_);
    return answer;
  }
  const std::optional<calendar::Night> night = season_->InsideNow(clock.UnixSeconds());
  answer.inside = night.has_value();
  if (night) {
    nightEnd_ = night->end;
    volume_ = night->volume;
  }
  return answer;
}

// The end of the night the pass began in: a night cut short by the next one
// ends there, though the next one is open at that moment.
bool CalendarFileWindow::EndedNow(const ShowSettings& settings, platform::Clock& clock) const {
  if (!inUse_) return daily_.EndedNow(settings, clock);
  return !nightEnd_ || clock.UnixSeconds() >= *nightEnd_;
}

std::optional<int> CalendarFileWindow::SecondsToNextOpening(const ShowSettings& settings,
                                                            platform::Clock& clock) const {
  if (!inUse_) return daily_.SecondsToNextOpening(settings, clock);
  if (!season_) return std::nullopt;
  const std::int64_t now = clock.UnixSeconds();
  if (season_->InsideNow(now)) return 0;
  const std::optional<calendar::Night> next = season_->NextOpening(now);
  if (!next) return std::nullopt;
  return static_cast<int>(*next->start - now);
}

int CalendarFileWindow::VolumePercent() const {
  return inUse_ ? volume_ : 100;
}

std::string CalendarFileWindow::NextOpeningText(const ShowSettings& settings,
                                                platform::Clock& clock) const {
  if (!inUse_) return daily_.NextOpeningText(settings, clock);
  if (!season_) return {};
  const std::optional<calendar::Night> next = season_->NextOpening(clock.UnixSeconds());
  return next ? calendar::NextShowText(*next) : std::string();
}

std::string CalendarFileWindow::PausedEvent(const ShowSettings& settings,
                                            platform::Clock& clock) const {
  if (!inUse_) return daily_.PausedEvent(settings, clock);
  if (!season_) return show_event::PausedCalendarRefused(problem_);
  return show_event::PausedByCalendar(NextOpeningText(settings, clock));
}

std::optional<ShowNight> CalendarFileWindow::TonightOrNext(const ShowSettings& settings,
                                                           platform::Clock& clock) const {
  if (!inUse_) return daily_.TonightOrNext(settings, clock);
  if (!season_) return std::nullopt;
  const std::int64_t now = clock.UnixSeconds();
  std::optional<calendar::Night> night = season_->InsideNow(now);
  if (!night) night = season_->NextOpening(now);
  if (!night || !night->HasShow()) return std::nullopt;
  return ShowNight{
      *night->start, *night->end,        TimeOfDayAt(*night->start), TimeOfDayAt(*night->end),
      night->volume, night->startFromSun};
}

std::string CalendarRefusedText(const std::string& problem) {
  return "The calendar cannot be used, so the show waits until it is mended and started again: " +
         problem;
}

namespace show_event {

std::string PausedByCalendar(const std::string& next) {
  if (next.empty()) return "Show paused: the calendar has no night to come within a year";
  return "Show paused: waiting for the calendar's next night, " + next;
}

std::string PausedCalendarRefused(const std::string& problem) {
  return "Show paused: the calendar cannot be used: " + problem;
}

}  // namespace show_event

}  // namespace playback
