#pragma once

#include <memory>
#include <optional>
#include <string>

#include "playback/show_calendar.h"

namespace calendar {
class Season;
}

namespace playback {

// When the show may play, from calendar.toml in the player's folder: the
// season calendar's nights when the file is there, the daily window of the
// settings when it is not. A file that cannot be read or has a mistake keeps
// the show waiting and says why: a half-read calendar never plays. The file
// is read when the show starts (and by Reload); between two readings every
// answer follows from the file and the moment asked about alone.
class CalendarFileWindow final : public ShowCalendar {
 public:
  explicit CalendarFileWindow(std::string folder);
  ~CalendarFileWindow() override;

  // Reads calendar.toml afresh.
  void Reload();
  // Whether calendar.toml decides the nights (as of the last reading).
  bool InUse() const { return inUse_; }
  // Why the file cannot be used ("calendar.toml line 7: ..."); empty when it can.
  std::string Problem() const override { return problem_; }

  Answer NightAt(const ShowSettings& settings, const ShowTime& at) const override;
  std::optional<ShowNight> NextNightAfter(const ShowSettings& settings,
                                          const ShowTime& at) const override;
  ShowEvent PausedEvent(const ShowSettings& settings, const ShowTime& at) const override;
  void ShowStarts() override { Reload(); }

 private:
  std::string folder_;
  DailyWindow daily_;
  // The file as last read.
  bool inUse_ = false;
  std::string problem_;
  std::unique_ptr<const calendar::Season> season_;
};

// The notice of a calendar that cannot be used.
std::string CalendarRefusedText(const std::string& problem);

}  // namespace playback
