#pragma once

#include <ctime>

namespace platform {

// The local calendar date and time of day at `moment`, by the C library's
// time zone. The reentrant call has a different name and argument order on
// each system.
inline std::tm LocalClockFace(std::time_t moment) {
  std::tm parts{};
#ifdef _WIN32
  localtime_s(&parts, &moment);
#else
  localtime_r(&moment, &parts);
#endif
  return parts;
}

}  // namespace platform
