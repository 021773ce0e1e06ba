#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/audio_player.h"
#include "platform/sdl/position_estimator.h"
#include "platform/sdl/sound_file.h"

namespace platform {

// Plays WAV and MP3 files through SDL2, decoding as it plays.
//
// Threads: a decoder thread fills a ring of float frames from the file; SDL's
// audio thread empties it in its callback and publishes how many frames it has
// handed over; the caller's thread reads the position from that. The three
// share only atomics.
//
// Without an audio device (none present, SDL cannot open one, or silence asked
// for) the file plays silently: the position follows the steady clock over
// the file's length, so a show runs on time without speakers.
class SdlAudioPlayer final : public AudioPlayer {
 public:
  struct Options {
    // Never touch the audio device.
    bool silent = false;
    // The time source of the silent position and of the interpolation between
    // callbacks; steady_clock::now when empty. Called from the audio thread too.
    std::function<SteadyTime()> now;
  };

  SdlAudioPlayer();
  explicit SdlAudioPlayer(Options options);
  ~SdlAudioPlayer() override;
  SdlAudioPlayer(const SdlAudioPlayer&) = delete;
  SdlAudioPlayer& operator=(const SdlAudioPlayer&) = delete;

  Status Open(const std::string& path) override;
  int PlayState() override;
  double PositionSeconds() override;
  double DurationSeconds() override;
  void Stop() override;
  void Close() override;
  bool IsSilent() const override;

  // Why the current or last file plays silently ("" when it does not).
  std::string SilentReason() const override { return silentReason_; }

 private:
  class FrameRing;
  enum class Mode { Idle, Device, Silent, Ended };

  static void AudioCallback(void* self, std::uint8_t* stream, int length);
  void FillFromRing(float* out, int frames);
  void DecodeLoop(std::stop_token stop);
  Status StartDevice();
  void StopDevice();
  void PlaySilentlyFrom(double seconds, std::string reason);
  double DeviceFrames();
  SteadyTime Now() const;

  Options options_;
  bool sdlReady_ = false;
  std::string sdlError_;

  std::optional<SoundFile> file_;
  double durationSeconds_ = 0.0;
  int sampleRate_ = 0;
  int fileChannels_ = 0;
  int deviceChannels_ = 0;
  Mode mode_ = Mode::Idle;
  bool silent_ = false;
  std::string silentReason_;
  double endPosition_ = 0.0;

  // Device mode.
  // An SDL_AudioDeviceID. <SDL.h> stays out of this header: on Windows it
  // renames the main() of every file that includes it.
  std::uint32_t device_ = 0;
  std::unique_ptr<FrameRing> ring_;
  std::jthread decoder_;
  std::mutex decoderMutex_;
  std::condition_variable_any decoderWake_;
  std::atomic<bool> decodeDone_{false};
  std::atomic<std::int64_t> framesDecoded_{0};
  HandOverMailbox handOver_;
  std::optional<PositionEstimator> estimator_;

  // Silent mode: the position is silentOffset_ plus the time since silentStart_.
  SteadyTime silentStart_{};
  double silentOffset_ = 0.0;
};

}  // namespace platform
