#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "platform/audio/position_estimator.h"
#include "platform/audio/song_feed.h"
#include "platform/audio/stoppable_thread.h"
#include "platform/audio_player.h"
#include "platform/win/audio/media_foundation_sound_file.h"

namespace platform::win {

// Plays WAV and MP3 files through WASAPI in shared mode, decoded by Media
// Foundation as it plays.
//
// The position is the sound being heard: the render thread reads the
// stream's IAudioClock each time it hands frames over, which says how far
// the device has played, so what the device and the audio engine still hold
// is not counted as played. Between those reads the position runs on with
// the steady clock, never backwards and never past what was handed over.
//
// Threads: a decoder thread fills a ring of float frames from the file; the
// render thread, woken by the device each period, empties it and publishes
// how many frames it handed over and when they will be heard; the caller's
// thread reads the position from that. The render thread only tries the
// lock the caller takes to hand over a song, and plays silence rather than
// wait.
//
// Songs follow each other without a gap: a song that ends leaves its output
// running in silence for a few seconds, and the next song of the same format
// takes it over as it is. An output of another format is opened afresh. The
// show opens an output ahead (OpenOutputAhead) in the last song's format and
// waits until the device plays it (OutputReady). Stop releases the device at
// once.
//
// Without a device (none present, none opens, or silence asked for) the file
// plays silently: the position follows the steady clock over the file's
// length, so a show runs on time without speakers. A device that goes away
// during a song (unplugged, audio service restarted) leaves the rest of the
// song playing silently from where it was.
//
// Under Wine the stream's clock is the audio server's, and on a PulseAudio
// null sink it runs some 9 % slower than the wall clock; the position follows
// it all the same, since it is what is heard.
class WasapiAudioPlayer final : public AudioPlayer {
 public:
  struct Options {
    // Never touch the audio device.
    bool silent = false;
    // The time source of the silent position and of the interpolation between
    // clock reads; steady_clock::now when empty. Called from the render
    // thread too.
    std::function<SteadyTime()> now = {};
    // How long the output stays open, playing silence, after a file ended or
    // was closed.
    std::chrono::milliseconds keepOutputOpen{5000};
  };

  WasapiAudioPlayer();
  explicit WasapiAudioPlayer(Options options);
  ~WasapiAudioPlayer() override;
  WasapiAudioPlayer(const WasapiAudioPlayer&) = delete;
  WasapiAudioPlayer& operator=(const WasapiAudioPlayer&) = delete;

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

  // One shared-mode stream and its render thread.
  class Output;
  // The render thread's hand-over: fills `out` from the song (or silence),
  // the first frame heard `untilHeard` seconds from now.
  void FillFromSong(Output& output, float* out, std::size_t frames, double untilHeard);
  SteadyTime Now() const;

 private:
  enum class Mode { Idle, Device, Silent, Ended };

  Status PlayOnDevice();
  // An output for `channels` at `rate` in output_, the running one when it
  // fits. `forSong`: the song is set, so the output plays it from its start.
  Status EnsureOutput(int channels, int rate, bool forSong);
  void CloseOutput();
  void RetireSong();
  void CloseOutputWhenIdle();
  void CancelIdleClose();
  void PlaySilentlyFrom(double seconds, std::string reason);
  double DeviceFrames();

  Options options_;

  std::optional<MediaFoundationSoundFile> file_;
  double durationSeconds_ = 0.0;
  int sampleRate_ = 0;
  int fileChannels_ = 0;
  Mode mode_ = Mode::Idle;
  bool silent_ = false;
  std::string silentReason_;
  double endPosition_ = 0.0;
  double outputLatency_ = 0.0;
  // The format an output opened ahead takes: the last song's, CD's before any.
  int aheadChannels_ = 2;
  int aheadRate_ = 44100;

  // The output of the current or the last song, until it has been without a
  // song for keepOutputOpen. While it has none it belongs to idleCloser_;
  // the caller's thread touches it only after CancelIdleClose.
  std::unique_ptr<Output> output_;
  StoppableThread idleCloser_;
  // Held by idleCloser_ while it closes, and by OutputReady, the one look
  // the caller's thread takes at the output meanwhile.
  std::mutex idleOutputMutex_;

  // The song the output plays.
  std::mutex songMutex_;
  std::unique_ptr<SongFeed> song_;
  // The night's volume, applied to what is handed to the device.
  std::atomic<float> gain_{1.0f};

  // Silent mode: the position is silentOffset_ plus the time since silentStart_.
  SteadyTime silentStart_{};
  double silentOffset_ = 0.0;
};

}  // namespace platform::win
