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

#include "platform/audio/position_estimator.h"
#include "platform/audio/sound_file.h"
#include "platform/audio_player.h"

namespace platform {

// Plays WAV and MP3 files through PortAudio (ALSA: straight to the card, or
// through the desktop's audio server where one runs), decoding as it plays.
//
// The position is the sound being heard: every callback says when its first
// frame reaches the speaker (PortAudio's outputBufferDacTime), so what the
// card and the audio server still hold is not counted as played.
//
// Threads: a decoder thread fills a ring of float frames from the file; the
// audio callback empties it and publishes how many frames it handed over and
// when they will be heard; the caller's thread reads the position from that.
// The three share only atomics.
//
// Without an audio device (none present, none opens, or silence asked for)
// the file plays silently: the position follows the steady clock over the
// file's length, so a show runs on time without speakers. A device that
// goes away during a song (unplugged, audio server restarted) leaves the rest
// of the song playing silently from where it was.
class PortAudioPlayer final : public AudioPlayer {
 public:
  struct Options {
    // Never touch the audio device.
    bool silent = false;
    // The time source of the silent position and of the interpolation between
    // callbacks; steady_clock::now when empty. Called from the audio thread too.
    std::function<SteadyTime()> now = {};
  };

  PortAudioPlayer();
  explicit PortAudioPlayer(Options options);
  ~PortAudioPlayer() override;
  PortAudioPlayer(const PortAudioPlayer&) = delete;
  PortAudioPlayer& operator=(const PortAudioPlayer&) = delete;

  Status Open(const std::string& path) override;
  int PlayState() override;
  double PositionSeconds() override;
  double DurationSeconds() override;
  void Stop() override;
  void Close() override;
  void SetVolumePercent(int percent) override {
    gain_.store(static_cast<float>(percent) / 100.0f, std::memory_order_relaxed);
  }
  bool IsSilent() const override { return silent_; }
  std::string SilentReason() const override { return silentReason_; }

  // Called by PortAudio's audio thread with the callback's times.
  void FillFromRing(float* out, unsigned long frames, double dacTime, double callbackTime);

 private:
  class FrameRing;
  enum class Mode { Idle, Device, Silent, Ended };

  void DecodeLoop(std::stop_token stop);
  Status StartDevice();
  void StopDevice();
  void PlaySilentlyFrom(double seconds, std::string reason);
  double DeviceFrames();
  bool DeviceLost();
  SteadyTime Now() const;

  Options options_;
  bool portAudioReady_ = false;
  std::string portAudioError_;

  std::optional<SoundFile> file_;
  double durationSeconds_ = 0.0;
  int sampleRate_ = 0;
  int fileChannels_ = 0;
  int deviceChannels_ = 0;
  Mode mode_ = Mode::Idle;
  bool silent_ = false;
  std::string silentReason_;
  double endPosition_ = 0.0;

  // Device mode. A PaStream; <portaudio.h> stays out of this header.
  void* stream_ = nullptr;
  SteadyTime deviceStart_{};
  std::atomic<SteadyTime::rep> lastCallback_{0};
  std::unique_ptr<FrameRing> ring_;
  std::jthread decoder_;
  std::mutex decoderMutex_;
  std::condition_variable_any decoderWake_;
  std::atomic<bool> decodeDone_{false};
  // The night's volume, applied to what the callback hands the device.
  std::atomic<float> gain_{1.0f};
  std::atomic<std::int64_t> framesDecoded_{0};
  HandOverMailbox handOver_;
  std::optional<PositionEstimator> estimator_;

  // Silent mode: the position is silentOffset_ plus the time since silentStart_.
  SteadyTime silentStart_{};
  double silentOffset_ = 0.0;
};

}  // namespace platform
