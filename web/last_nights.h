#pragma once

#include <optional>
#include <string>
#include <vector>

#include "playback/show_log.h"
#include "web/show_view.h"

namespace web {

// The last `count` nights of the show log in `dir` (show.log and the older
// show.log.1), oldest first; nothing when there is no log at all.
std::optional<std::vector<playback::NightSummary>> LastNights(const std::string& dir, int count);

// The same nights' windows against the minutes of songs that played, as
// `glimmer log` prints them; none when there is no log.
std::vector<NightPlayedView> LastNightsPlayed(const std::string& dir, int count);

}  // namespace web
