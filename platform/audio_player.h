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
class AudioPlayer {
 public:
  virtual ~AudioPlayer() = default;

  // Sets the media source and starts playing it. An error says why the file
  // cannot be played (missing, not decodable).
  virtual Status Open(const std::string& path) = 0;
  // 1 stopped, 3 playing; other values are neither (paused, opening).
  virtual int PlayState() = 0;
  // Position in seconds since the start of the file; never goes backwards
  // while playing.
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
};

}  // namespace platform
