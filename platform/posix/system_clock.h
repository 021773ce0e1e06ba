#pragma once

#include "platform/clock.h"

namespace platform {

class SystemClock final : public Clock {
 public:
  int SecondsOfDay() override;
  std::int64_t UnixSeconds() override;
  void Sleep100ms() override;
};

}  // namespace platform
