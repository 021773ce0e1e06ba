#include "watch/device_wait.h"

namespace watch {

platform::Status WaitForDevices(const std::vector<DeviceNeed>& needs, std::chrono::seconds limit,
                                platform::TimeSource& time, const DeviceWaitHooks& hooks) {
  const auto say = [&hooks](const std::string& text) {
    if (hooks.say) hooks.say(text);
  };
  const auto started = time.Steady();
  std::vector<bool> announced(needs.size(), false);
  for (;;) {
    std::string missing;
    for (std::size_t i = 0; i < needs.size(); ++i) {
      const platform::Status present = needs[i].present();
      if (present) {
        if (announced[i]) say("Found " + needs[i].what);
        announced[i] = false;
        continue;
      }
      if (!missing.empty()) missing += "; ";
      missing += needs[i].what + " (" + present.message() + ")";
      if (!announced[i]) {
        say("Waiting up to " + std::to_string(limit.count()) + " seconds for " + needs[i].what +
            ": " + present.message());
        announced[i] = true;
      }
    }
    if (missing.empty()) return platform::Status::Ok();
    if (time.Steady() - started >= limit) {
      return platform::Status::Error("waited " + std::to_string(limit.count()) +
                                     " seconds; still missing: " + missing);
    }
    if (hooks.onStep) hooks.onStep();
    if (hooks.pause) hooks.pause();
    if (hooks.cancelled && hooks.cancelled()) {
      return platform::Status::Error("the wait for " + missing + " was interrupted");
    }
  }
}

}  // namespace watch
