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
#include "platform/audio/song_feed.h"
#include "platform/audio/sound_file.h"
#include "platform/audio/stoppable_thread.h"
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
// The three share only atomics, and a lock that the callback only tries (on
// the rare pass where the caller holds it to hand over a song, it plays
// silence rather than wait).
//
// Songs follow each other without a gap. An output that starts while the
// audio server has nothing else to play is heard late (an idle PulseAudio
// sink has already rendered up to two seconds ahead, and takes a new stream
// only as far back as that stream's own latency). So when a song ends, its
// output plays on in silence, which keeps the server ready; the next song
// gets an output of its own, opened while that one still runs and filled
// with the song's first frames as it starts, so it is heard at once; then
// the old output closes. The first output of all (nothing runs yet) starts
// with silence and takes the song after, so that the song's first hand-over
// carries the moment it is really heard however late the output starts. So
// that the first song of a show is heard as it starts too, the show opens an
// output ahead (OpenOutputAhead) and waits until it is heard (OutputReady);
// the first song then follows it as any next song does. An output without a
// song closes after a few seconds, and at once on Stop, so the device is not
// held while no show plays.
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
    // How long the output stays open, playing silence, after a file ended or
    // was closed.
    std::chrono::milliseconds keepOutputOpen{5000};
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
  double OutputLatencySeconds() const override { return silent_ ? 0.0 : outputLatency_; }
  void OpenOutputAhead() override;
  bool OutputReady() override;

  // One output stream; the audio thread's side of the player.
  struct Output;
  // Called by PortAudio's audio thread with the callback's times.
  void FillFromRing(Output& output, float* out, unsigned long frames, double dacTime,
                    double callbackTime);

 private:
  enum class Mode { Idle, Device, Silent, Ended };

  Status PlayOnDevice();
  Status OpenOutput(int channels, double rate, bool withSong, std::unique_ptr<Output>& opened);
  // Whether `output` has taken more than it fills its buffer with at its
  // start, so takes frames as they are heard.
  static bool Flows(const Output& output);
  void CloseOutput(std::unique_ptr<Output>& output);
  void RetireSong();
  void CloseOutputWhenIdle();
  void CancelIdleClose();
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
  Mode mode_ = Mode::Idle;
  bool silent_ = false;
  std::string silentReason_;
  double endPosition_ = 0.0;
  double outputLatency_ = 0.0;

  // The output of the current or the last song, until it has been without a
  // song for keepOutputOpen. While it has none it belongs to idleCloser_;
  // the caller's thread touches it only after CancelIdleClose.
  std::unique_ptr<Output> output_;
  StoppableThread idleCloser_;
  // Held by idleCloser_ while it closes, and by OutputReady, the one look
  // the caller's thread takes at the output meanwhile.
  std::mutex idleOutputMutex_;
  // The last song's output, which runs on in silence for a moment beside the
  // new one; the caller's thread only.
  std::unique_ptr<Output> retiring_;
  SteadyTime retiringSince_{};

  // The song the output plays.
  std::mutex songMutex_;
  std::unique_ptr<SongFeed> song_;
  // The night's volume, applied to what the callback hands the device.
  std::atomic<float> gain_{1.0f};

  // Silent mode: the position is silentOffset_ plus the time since silentStart_.
  SteadyTime silentStart_{};
  double silentOffset_ = 0.0;
};

}  // namespace platform
