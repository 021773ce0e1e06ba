#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/clock.h"
#include "playback/show_event.h"
#include "playback/show_front_end.h"

namespace playback {

// A moment as the show reads it from the clock: the daily window compares
// times of day, a calendar of seasons dates.
struct ShowTime {
  std::int64_t unixSeconds = 0;
  int secondsOfDay = 0;
};
ShowTime ReadShowTime(platform::Clock& clock);

// One night of the show as its calendar gives it.
struct ShowNight {
  // Seconds since the epoch. From `end` on the night's time is up: asked
  // between two entries, the entry that ended there was its last.
  std::int64_t start = 0;
  std::int64_t end = 0;
  int volumePercent = 100;
  // Its window as the time lists write times of day ("5:30:00 PM", "5:12
  // PM"), for the log and the alerts.
  std::string startText;
  std::string endText;
  // When it opens, as the window names the next show ("Fri 27 Nov, 5:12 PM
  // (sunset + 15 min)").
  std::string opensText;

  bool EndedAt(const ShowTime& at) const { return at.unixSeconds >= end; }
  bool operator==(const ShowNight&) const = default;
};

// When the show may play. The scheduler asks only this, so a calendar of
// seasons can take the place of the daily window without touching the show.
// Every question is answered from the settings and the moment asked about
// alone: an observer that asks changes nothing for the scheduler.
class ShowCalendar {
 public:
  virtual ~ShowCalendar() = default;

  struct Answer {
    // The night open at the moment asked about; none outside every night.
    std::optional<ShowNight> night;
    // A setting the calendar cannot read; the show waits and says so.
    std::string problem;
  };
  virtual Answer NightAt(const ShowSettings& settings, const ShowTime& at) const = 0;
  // The first night to open after `at`; nothing when none will (the settings
  // cannot be read, or the window never opens).
  virtual std::optional<ShowNight> NextNightAfter(const ShowSettings& settings,
                                                  const ShowTime& at) const = 0;
  // The show log's line as the show begins to wait.
  virtual ShowEvent PausedEvent(const ShowSettings& settings, const ShowTime& at) const;
  // A show starts: a calendar kept in a file reads it afresh.
  virtual void ShowStarts() {}

  // For observers, about now: whether a night is open; the seconds until the
  // next one opens (0 while one is); when the open or next night opens, as
  // its opensText (empty when none will).
  bool InsideNow(const ShowSettings& settings, platform::Clock& clock) const;
  std::optional<int> SecondsToNextOpening(const ShowSettings& settings,
                                          platform::Clock& clock) const;
  std::string NextOpeningText(const ShowSettings& settings, platform::Clock& clock) const;
  // The night open now, else the next one to open; nothing when none will.
  std::optional<ShowNight> TonightOrNext(const ShowSettings& settings,
                                         platform::Clock& clock) const;
  // A mistake that keeps the calendar from being used; empty when it can be.
  virtual std::string Problem() const { return {}; }
};

// "Next show: Fri 27 Nov, 5:12 PM (sunset + 15 min)" before `night` opens,
// "Next show: Fri 27 Nov, 5:12 PM, open until 11:00 PM" while it is open.
std::string NextShowLine(const ShowNight& night, std::int64_t now);

inline constexpr const char* kStartAfterEndText =
    "The start time is later than the end time, so the daily window never opens. For a show "
    "past midnight, use a calendar.";
// "Next show: Fri 27 Nov, 5:12 PM (sunset + 15 min)".
std::string NextShowText(const std::string& when);

// The daily window from the start time to the end time, closed at both
// ends, on one day: a start later than the end never opens. Its night ends
// within the end time's own second, which still opens the window, so an
// entry that ends in that second is followed by a new pass.
class DailyWindow final : public ShowCalendar {
 public:
  Answer NightAt(const ShowSettings& settings, const ShowTime& at) const override;
  std::optional<ShowNight> NextNightAfter(const ShowSettings& settings,
                                          const ShowTime& at) const override;
  ShowEvent PausedEvent(const ShowSettings& settings, const ShowTime& at) const override;
};

}  // namespace playback
