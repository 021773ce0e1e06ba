#include "watch/build_day.h"

namespace watch {

std::chrono::system_clock::time_point BuildDay() {
  constexpr long long kEpoch = GLIMMER_BUILD_EPOCH;
  return std::chrono::system_clock::time_point(std::chrono::seconds(kEpoch - kEpoch % 86400));
}

}  // namespace watch
