#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/clock.h"
#include "playback/show_front_end.h"

namespace playback {

// Seconds since midnight for a 12-hour time of day such as "5:30:00 PM",
// or nothing when the text is not one.
std::optional<int> ParseTimeOfDay(std::string_view text);

// One night of the show as an operator reads it: from when to when (times of
// day such as "5:30:00 PM", the end perhaps past midnight) at what volume.
struct ShowNight {
  std::int64_t start = 0;  // seconds since the epoch; the night is start <= now <= end
  std::int64_t end = 0;
  std::string startText;
  std::string endText;
  int volume = 100;          // percent of full
  std::string startFromSun;  // "sunset + 15 min"; empty for a clock time
};

// When the show may play. The scheduler asks only this, so a calendar of
// seasons can take the place of the daily window without touching the show.
class ShowCalendar {
 public:
  virtual ~ShowCalendar() = default;

  struct Answer {
    bool inside = false;
    // A setting the calendar cannot read; the show waits and says so.
    std::string problem;
  };
  // Whether the show may play now (before an entry starts).
  virtual Answer InsideNow(const ShowSettings& settings, platform::Clock& clock) const = 0;
  // Whether the show's time is up, asked between two entries: an entry that
  // started inside plays to its end.
  virtual bool EndedNow(const ShowSettings& settings, platform::Clock& clock) const = 0;
  // Seconds from now until the show may next play; nothing when it never
  // will (the settings cannot be read, or the window never opens).
  virtual std::optional<int> SecondsToNextOpening(const ShowSettings& settings,
                                                  platform::Clock& clock) const = 0;

  // A show starts: a calendar kept in a file reads it afresh.
  virtual void ShowStarts() const {}
  // The volume of the night InsideNow last found open, in percent of full.
  virtual int VolumePercent() const { return 100; }
  // When the show next opens, as the window shows it ("Fri 27 Nov, 5:12 PM"),
  // from SecondsToNextOpening; empty when it never will.
  virtual std::string NextOpeningText(const ShowSettings& settings, platform::Clock& clock) const;
  // The show log's line as the show begins to wait.
  virtual std::string PausedEvent(const ShowSettings& settings, platform::Clock& clock) const;
  // The night open now, else the next one to open; nothing when none will.
  // Asking changes nothing the show decides by.
  virtual std::optional<ShowNight> TonightOrNext(const ShowSettings& settings,
                                                 platform::Clock& clock) const = 0;
  // A mistake that keeps the calendar from being used; empty when it can be.
  virtual std::string Problem() const { return {}; }
};

// "Next show: Fri 27 Nov, 5:12 PM (sunset + 15 min)" before `night` opens,
// "Next show: Fri 27 Nov, 5:12 PM, open until 11 PM" while it is open.
std::string NextShowLine(const ShowNight& night, std::int64_t now);
// "5:30:00 PM" for a moment, in local time.
std::string TimeOfDayAt(std::int64_t moment);

inline constexpr const char* kStartAfterEndText =
    "The start time is later than the end time, so the daily window never opens. For a show "
    "past midnight, use a calendar.";
// "Next show: Fri 27 Nov, 5:12 PM (sunset + 15 min)".
std::string NextShowText(const std::string& when);

// The daily window from the start time to the end time, closed at both
// ends, on one day: a start later than the end never opens.
class DailyWindow final : public ShowCalendar {
 public:
  Answer InsideNow(const ShowSettings& settings, platform::Clock& clock) const override;
  bool EndedNow(const ShowSettings& settings, platform::Clock& clock) const override;
  std::optional<int> SecondsToNextOpening(const ShowSettings& settings,
                                          platform::Clock& clock) const override;
  std::string PausedEvent(const ShowSettings& settings, platform::Clock& clock) const override;
  std::optional<ShowNight> TonightOrNext(const ShowSettings& settings,
                                         platform::Clock& clock) const override;
};

}  // namespace playback
