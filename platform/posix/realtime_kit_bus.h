#pragma once

#include <functional>
#include <memory>

#include "platform/realtime_kit.h"

namespace platform {

// RealtimeKit on the system bus (org.freedesktop.RealtimeKit1), through
// sd-bus.
std::unique_ptr<RealtimeKit> SystemBusRealtimeKit();

// Asks `kit` for real-time priority `wanted` (or the kit's highest, if lower)
// for `thread`. The kit grants it only to a process whose RLIMIT_RTTIME lies
// within its own limit, so `limitRealtimeCpu` is first asked to set that
// (microseconds of CPU without blocking); a thread that waits between its
// passes never comes near it.
Status AskRealtimeKit(RealtimeKit& kit, std::uint64_t thread, int wanted,
                      const std::function<Status(std::int64_t usec)>& limitRealtimeCpu);

}  // namespace platform
