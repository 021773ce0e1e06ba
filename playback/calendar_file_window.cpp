#include "playback/calendar_file_window.h"

#include <utility>

#include "calendar/calendar_file.h"
#include "calendar/local_time.h"
#include "calendar/season.h"

namespace playback {

CalendarFileWindow::CalendarFileWindow(std::string folder) : folder_(std::move(folder)) {
  Reload();
}

CalendarFileWindow::~CalendarFileWindow() = default;

void CalendarFileWindow::Reload() {
  season_.reset();
  problem_.clear();
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
  season_ = std::make_unique<const calendar::Season>(std::move(*parsed.calendar));
}

namespace {

ShowNight FromSeason(const calendar::Night& night) {
  ShowNight show;
  show.start = *night.start;
  show.end = *night.end;
  show.volumePercent = night.volume;
  show.startText = calendar::ClockText(calendar::ToLocal(show.start).secondsOfDay);
  show.endText = calendar::ClockText(calendar::ToLocal(show.end).secondsOfDay);
  show.opensText = calendar::NextShowText(night);
  return show;
}

}  // namespace

ShowCalendar::Answer CalendarFileWindow::NightAt(const ShowSettings& settings,
                                                 const ShowTime& at) const {
  if (!inUse_) return daily_.NightAt(settings, at);
  Answer answer;
  if (!season_) {
    answer.problem = CalendarRefusedText(problem_);
  } else if (const std::optional<calendar::Night> night = season_->InsideNow(at.unixSeconds)) {
    answer.night = FromSeason(*night);
  }
  return answer;
}

std::optional<ShowNight> CalendarFileWindow::NextNightAfter(const ShowSettings& settings,
                                                            const ShowTime& at) const {
  if (!inUse_) return daily_.NextNightAfter(settings, at);
  if (!season_) return std::nullopt;
  const std::optional<calendar::Night> next = season_->NextOpening(at.unixSeconds);
  if (!next) return std::nullopt;
  return FromSeason(*next);
}

ShowEvent CalendarFileWindow::PausedEvent(const ShowSettings& settings, const ShowTime& at) const {
  if (!inUse_) return daily_.PausedEvent(settings, at);
  if (!season_) return show_event::PausedCalendarRefused(problem_);
  const std::optional<ShowNight> next = NextNightAfter(settings, at);
  return show_event::PausedByCalendar(next ? next->opensText : std::string());
}

std::string CalendarRefusedText(const std::string& problem) {
  return "The calendar cannot be used, so the show waits until it is mended and started again: " +
         problem;
}

}  // namespace playback
