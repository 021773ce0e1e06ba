#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/clock.h"
#include "playback/show_event.h"
#include "playback/show_log.h"
#include "watch/show_health.h"
#include "web/last_nights.h"
#include "web/show_view.h"
#include "web/web_settings.h"

// The phone page's view of a show: the show's one state read out as the
// page's status. Every front end that runs a show (the window, `glimmer
// show`) serves the page through its host.
namespace web {

// What the page shows of `state` at `now` (seconds since 1970): the one
// place the show's state becomes the page's status. The checks and alerts
// are the watch's, added by the page.
ShowStatus StatusOf(const playback::ShowState& state, std::int64_t now);

// The page's status: the show's state as its host fills it, with the
// watch's checks and alerts; the page's controls go to the host's commands,
// not through here.
class ShowPage final : public StatusSource {
 public:
  struct Show {
    // Where the show stands now, as every front end shows it.
    std::function<playback::ShowState()> state;
    platform::Clock& clock;
    // The checks and alerts of the show, where they are watched.
    const watch::ShowHealth* health = nullptr;
    // The wall clock the last 24 hours of alerts are counted back from.
    std::function<std::chrono::system_clock::time_point()> wallNow = std::chrono::system_clock::now;
    // The nights of show.log, kept in memory as the log is written; none
    // when not given.
    NightBook* nights = nullptr;
  };
  explicit ShowPage(Show show);

  ShowStatus Status() override;
  std::vector<playback::NightSummary> Nights(int count) override;
  std::vector<NightPlayedView> NightsPlayed(int count) override;

 private:
  Show show_;
};

// The [web] table of settings.toml in `dir`; off when there is no file. An
// error names the file, the line and what is wrong.
platform::Result<WebSettings> ReadWebSettings(const std::string& dir);

}  // namespace web
