#pragma once

#include <memory>
#include <optional>
#include <string>

#include "platform/status.h"

namespace platform {

// One show per folder: two shows on one folder both sent the port-open
// burst, played every song twice and mixed their log lines, and a window
// opened beside a running show wrote a false "Show ended" into its log. A
// show holds an advisory lock (flock) on "show.lock" in its folder for as
// long as it may run; the lock goes with the process, however it ends.
class ShowLock {
 public:
  virtual ~ShowLock() = default;
};

inline constexpr const char* kShowLockName = "show.lock";

// Takes the folder's lock for `who` ("glimmer show", "the player window").
// When another process holds it, the error says which: "A show already
// runs on the folder DIR: process 1234 (glimmer show) holds DIR/show.lock."
Result<std::unique_ptr<ShowLock>> TakeShowLock(const std::string& folder, const std::string& who);

// Who holds the folder's lock, when another process does; nothing when it
// is free or this process holds it. Says nothing and touches nothing else.
std::optional<std::string> OtherShowOnFolder(const std::string& folder);

}  // namespace platform
