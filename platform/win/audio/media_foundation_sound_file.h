#pragma once

// clang-format off
#include <windows.h>
#include <mfidl.h>
#include <mfreadwrite.h>
// clang-format on

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "platform/status.h"
#include "platform/win/audio/com_support.h"

namespace platform::win {

// A WAV or MP3 file open for decoding through Media Foundation's source
// reader, read front to back in pieces so a song never sits in memory as a
// whole. Samples come out as interleaved floats at the file's own rate and
// channel count. Move-only; the file closes when it goes.
class MediaFoundationSoundFile {
 public:
  // An error names the file and says why it cannot be played.
  static Result<MediaFoundationSoundFile> Open(const std::string& path);

  int SampleRate() const { return rate_; }
  int Channels() const { return channels_; }
  // From the file's stated length: exact for WAV, the decoder's estimate for
  // MP3. The end of the song is where decoding ends, whatever this says.
  std::int64_t Frames() const { return frames_; }
  double DurationSeconds() const;

  // Reads up to `frames` frames into `out` (room for frames × Channels()).
  // Returns how many; 0 at the end or on a decoding error.
  std::int64_t Read(float* out, std::int64_t frames);

 private:
  MediaFoundationSoundFile() = default;
  // Takes the next decoded sample into pending_; false at the end.
  bool DecodeNext();

  // One reference on Media Foundation, for as long as the reader lives;
  // moves with the file, so a moved-from file does not drop it.
  class Started {
   public:
    Started() = default;
    Started(Started&& other) noexcept : on_(std::exchange(other.on_, false)) {}
    Started& operator=(Started&& other) noexcept {
      std::swap(on_, other.on_);
      return *this;
    }
    ~Started();
    HRESULT Start();

   private:
    bool on_ = false;
  };

  Started started_;  // declared before the reader, so it goes after it
  ComPtr<IMFSourceReader> reader_;
  int rate_ = 0;
  int channels_ = 0;
  std::int64_t frames_ = 0;
  bool ended_ = false;
  std::vector<float> pending_;
  std::size_t pendingAt_ = 0;  // samples of pending_ already read
};

}  // namespace platform::win
