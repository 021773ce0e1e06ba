#pragma once

#include <chrono>
#include <string>
#include <vector>

#include "web/show_view.h"

namespace web_test {

// The show as the page sees it: a status the test sets, nights it returns,
// and every control call kept with who asked.
class FakeShow final : public web::StatusSource, public web::ControlSink {
 public:
  web::ShowStatus status;
  std::vector<playback::NightSummary> nights;
  std::vector<web::NightPlayedView> played;
  std::vector<std::string> calls;  // "Stop by phone page"
  int lastNightsAsked = -1;

  web::ShowStatus Status() override { return status; }
  std::vector<playback::NightSummary> Nights(int count) override {
    lastNightsAsked = count;
    return nights;
  }
  std::vector<web::NightPlayedView> NightsPlayed(int) override { return played; }
  platform::Status Start(std::string_view who) override { return Call("Start", who); }
  platform::Status Stop(std::string_view who) override { return Call("Stop", who); }
  platform::Status StopAfterSong(std::string_view who) override {
    return Call("StopAfterSong", who);
  }
  platform::Status Skip(std::string_view who) override { return Call("Skip", who); }

 private:
  platform::Status Call(const char* what, std::string_view who) {
    calls.push_back(std::string(what) + " by " + std::string(who));
    return platform::Status::Ok();
  }
};

struct FakeSteadyClock {
  std::chrono::steady_clock::time_point now{std::chrono::hours(1)};
  auto Function() {
    return [this] { return now; };
  }
};

}  // namespace web_test
