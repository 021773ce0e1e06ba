#pragma once

#include <optional>
#include <string>
#include <vector>

#include "playback/show_log.h"

namespace web {

// The last `count` nights of the show log in `dir` (show.log and the older
// show.log.1), oldest first; nothing when there is no log at all.
std::optional<std::vector<playback::NightSummary>> LastNights(const std::string& dir, int count);

}  // namespace web
