#pragma once

#include "platform/audio_player.h"
#include "platform/serial_port.h"

namespace shell {

// Stand-ins used by main() until the real serial port and audio player are
// linked in. Each refuses to open and says why, so a show fails with a clear
// message instead of pretending to play.
class NullSerialPort final : public platform::SerialPort {
 public:
  void SetPortNumber(int) override {}
  void SetSettings(const std::string&) override {}
  platform::Status Open() override;
  bool IsOpen() const override { return false; }
  void Close() override {}
  platform::Status Write(std::string_view) override;
};

class NullAudioPlayer final : public platform::AudioPlayer {
 public:
  platform::Status Open(const std::string& path) override;
  int PlayState() override { return platform::kPlayStateStopped; }
  double PositionSeconds() override { return 0.0; }
  double DurationSeconds() override { return 0.0; }
  void Stop() override {}
  void Close() override {}
  bool IsSilent() const override { return true; }
};

}  // namespace shell
