#pragma once

#include <chrono>

#include "platform/time_source.h"

namespace platform {

class SystemTimeSource final : public TimeSource {
 public:
  std::chrono::steady_clock::time_point Steady() override {
    return std::chrono::steady_clock::now();
  }
  std::chrono::system_clock::time_point Wall() override { return std::chrono::system_clock::now(); }
};

}  // namespace platform
