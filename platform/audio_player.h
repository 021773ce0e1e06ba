#pragma once

#include <string>

#include "platform/status.h"

namespace platform {

// Play state values as the show player tests them.
inline constexpr int kPlayStateStopped = 1;
inline constexpr int kPlayStatePaused = 2;
inline constexpr int kPlayStatePlaying = 3;

// Plays one audio file at a time.
// Lifecycle: Open(path) starts playback by itself; PlayState and
// PositionSeconds may be polled as fast as the caller likes; Stop ends
// playback; Close releases the file. Open may be called again after Close.
// The sound output may stay open for a few seconds after a file ends or is
// closed, so that the next file follows without the output starting afresh;
// Stop releases it at once.
class AudioPlayer {
 public:
  virtual ~AudioPlayer() = default;

  // Sets the media source and starts playing it. An error says why the file
  // cannot be played (missing, not decodable).
  virtual Status Open(const std::string& path) = 0;
  // 1 stopped, 3 playing; other values are neither (paused, opening).
  virtual int PlayState() = 0;
  // Position in seconds since the start of the file, as heard: it stays at 0
  // until the file's first frame is heard. Never goes backwards while playing.
  virtual double PositionSeconds() = 0;
  // Length of the open file in seconds (0 when nothing is open).
  virtual double DurationSeconds() = 0;
  virtual void Stop() = 0;
  virtual void Close() = 0;
  // Scales the samples handed to the audio device from now on, in percent of
  // full (100: as the file has them); the position clock is untouched.
  virtual void SetVolumePercent(int percent) { (void)percent; }
  // True when no audio device could be used and the file plays silently, its
  // position following a steady real-time clock.
  virtual bool IsSilent() const = 0;
  // Why the file plays silently ("no audio device: ..."); empty when it does not.
  virtual std::string SilentReason() const = 0;
  // How long after it is handed over a frame is heard, as the sound output
  // reports it for the open file; 0 when unknown or silent.
  virtual double OutputLatencySeconds() const { return 0.0; }
  // Opens the sound output before the next file, to run without one until
  // it comes: an audio server that had nothing to play may first play out
  // what it rendered ahead (up to seconds) before a new output is heard,
  // while a file opened beside a running output is heard at once. The
  // output closes by itself after a few seconds without a file.
  virtual void OpenOutputAhead() {}
  // Whether the output opened ahead now takes what it is given as it is
  // heard; true when there is none (silent playback, no device).
  virtual bool OutputReady() { return true; }
};

}  // namespace platform
