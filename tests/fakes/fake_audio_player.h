#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/audio_player.h"

namespace fakes {

// An audio player whose position and state the test moves. `onPoll` runs at
// every PositionSeconds() call, so a test can script the position pass by
// pass (for example: advance 1 ms per poll, stop at 10 s).
class FakeAudioPlayer : public platform::AudioPlayer {
 public:
  platform::Status Open(const std::string& path) override {
    opened.push_back(path);
    if (!openError.empty()) return platform::Status::Error(openError);
    state = platform::kPlayStatePlaying;
    position = 0.0;
    return platform::Status::Ok();
  }
  int PlayState() override { return state; }
  double PositionSeconds() override {
    ++polls;
    if (onPoll) onPoll(*this);
    return position;
  }
  double DurationSeconds() override { return duration; }
  void Stop() override {
    ++stops;
    state = platform::kPlayStateStopped;
  }
  void Close() override {
    ++closes;
    state = platform::kPlayStateStopped;
  }
  void SetVolumePercent(int percent) override { volumes.push_back(percent); }
  bool IsSilent() const override { return silent; }
  std::string SilentReason() const override { return silent ? silentReason : std::string(); }
  double OutputLatencySeconds() const override { return outputLatency; }
  void OpenOutputAhead() override { ++outputsOpenedAhead; }
  bool OutputReady() override { return !outputReady || outputReady(); }

  int state = platform::kPlayStateStopped;
  double position = 0.0;
  double duration = 0.0;
  double outputLatency = 0.0;
  std::string openError;
  bool silent = false;
  std::string silentReason = "no audio device";
  std::vector<std::string> opened;
  std::vector<int> volumes;
  int polls = 0, stops = 0, closes = 0;
  std::function<void(FakeAudioPlayer&)> onPoll;
  // Whether the output opened ahead is ready, asked at every OutputReady();
  // ready at once when empty.
  std::function<bool()> outputReady;
  int outputsOpenedAhead = 0;
};

}  // namespace fakes
