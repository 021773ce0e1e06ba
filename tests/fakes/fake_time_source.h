#pragma once

#include <chrono>

#include "platform/time_source.h"

namespace fakes {

// Both clocks under the test's hand: Advance moves them together, as real
// time does; Jump moves only the wall clock, as a time server or a user does.
class FakeTimeSource : public platform::TimeSource {
 public:
  std::chrono::steady_clock::time_point Steady() override { return steady; }
  std::chrono::system_clock::time_point Wall() override { return wall; }

  void Advance(std::chrono::milliseconds by) {
    steady += by;
    wall += by;
  }
  void Jump(std::chrono::seconds by) { wall += by; }

  std::chrono::steady_clock::time_point steady{std::chrono::hours(1)};
  // 2026-12-24 17:00:00 UTC
  std::chrono::system_clock::time_point wall{std::chrono::seconds(1798131600)};
};

}  // namespace fakes
