#pragma once

#include <chrono>

namespace platform {

// The two clocks the watch over a show compares: the steady one that never
// jumps, and the wall clock that a power cut or a time server may move.
class TimeSource {
 public:
  virtual ~TimeSource() = default;
  virtual std::chrono::steady_clock::time_point Steady() = 0;
  virtual std::chrono::system_clock::time_point Wall() = 0;
};

}  // namespace platform
