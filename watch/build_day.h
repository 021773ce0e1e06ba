#pragma once

#include <chrono>

namespace watch {

// Midnight (UTC) of the day this program was configured for building.
std::chrono::system_clock::time_point BuildDay();

}  // namespace watch
