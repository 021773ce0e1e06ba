// Until Windows' own sound output is in, every file plays silently: its
// position follows the steady clock, so a show still sends its lights on
// time. The length comes from the WAV header; a song this player cannot
// measure is refused with the reason rather than played for no time.
#include <chrono>
#include <cstdint>
#include <fstream>
#include <memory>
#include <string>

#include "binary/little_endian.h"
#include "platform/audio_factory.h"
#include "platform/audio_player.h"
#include "platform/audio_probe.h"
#include "platform/file_store.h"

namespace platform {
namespace {

constexpr const char* kNoOutput = "no audio device: the Windows sound output is not built in";

// The length in seconds of a PCM WAV file, from its "fmt " and "data" chunks.
Result<double> WavSeconds(const std::string& path) {
  using R = Result<double>;
  if (Status openable = CheckOpenableFile(path); !openable) return R::Error(openable.message());
  std::ifstream in(path, std::ios::binary);
  if (!in) return R::Error(path + ": the file cannot be opened");
  unsigned char riff[12];
  if (!in.read(reinterpret_cast<char*>(riff), sizeof riff) ||
      std::string(reinterpret_cast<char*>(riff), 4) != "RIFF" ||
      std::string(reinterpret_cast<char*>(riff) + 8, 4) != "WAVE") {
    return R::Error(path + ": not a WAV file (only WAV plays without the Windows decoder)");
  }
  std::uint32_t byteRate = 0;
  unsigned char header[8];
  while (in.read(reinterpret_cast<char*>(header), sizeof header)) {
    const std::string id(reinterpret_cast<char*>(header), 4);
    const std::uint32_t size = binary::ReadLittle<std::uint32_t>(header + 4);
    if (id == "fmt ") {
      unsigned char fmt[16];
      if (size < sizeof fmt || !in.read(reinterpret_cast<char*>(fmt), sizeof fmt)) break;
      byteRate = binary::ReadLittle<std::uint32_t>(fmt + 8);
      in.seekg(size - sizeof fmt + (size & 1), std::ios::cur);
    } else if (id == "data") {
      if (byteRate == 0) break;
      return static_cast<double>(size) / byteRate;
    } else {
      in.seekg(static_cast<std::streamoff>(size) + (size & 1), std::ios::cur);
    }
  }
  return R::Error(path + ": the WAV file has no sound data or no format");
}

class SilentPlayer final : public AudioPlayer {
 public:
  explicit SilentPlayer(std::string reason) : reason_(std::move(reason)) {}

  Status Open(const std::string& path) override {
    Close();
    auto seconds = WavSeconds(path);
    if (!seconds) return seconds.status();
    duration_ = seconds.value();
    start_ = std::chrono::steady_clock::now();
    playing_ = true;
    return Status::Ok();
  }
  int PlayState() override {
    if (playing_ && PositionSeconds() >= duration_) playing_ = false;
    return playing_ ? kPlayStatePlaying : kPlayStateStopped;
  }
  double PositionSeconds() override {
    if (!playing_) return stoppedAt_;
    const double elapsed =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
    return elapsed < duration_ ? elapsed : duration_;
  }
  double DurationSeconds() override { return duration_; }
  void Stop() override {
    stoppedAt_ = PositionSeconds();
    playing_ = false;
  }
  void Close() override {
    playing_ = false;
    duration_ = 0;
    stoppedAt_ = 0;
  }
  bool IsSilent() const override { return true; }
  std::string SilentReason() const override { return reason_; }

 private:
  std::string reason_;
  std::chrono::steady_clock::time_point start_;
  double duration_ = 0;
  double stoppedAt_ = 0;
  bool playing_ = false;
};

}  // namespace

std::unique_ptr<AudioPlayer> MakeAudioPlayer(const AudioOptions& options) {
  return std::make_unique<SilentPlayer>(options.silent ? "silent playback asked for" : kNoOutput);
}

Status ProbeAudioDevice() {
  return Status::Error(kNoOutput);
}

Status ProbeSongFile(const std::string& path) {
  auto seconds = WavSeconds(path);
  if (!seconds) return seconds.status();
  if (seconds.value() <= 0) return Status::Error(path + ": the song holds no sound");
  return Status::Ok();
}

}  // namespace platform
