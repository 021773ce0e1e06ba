#pragma once

#include <sndfile.h>

#include <cstdint>
#include <memory>
#include <string>

#include "platform/status.h"

namespace platform {

// A WAV or MP3 file open for decoding, read front to back in pieces so a song
// never sits in memory as a whole. Move-only; closes the file when it goes.
class SoundFile {
 public:
  // An error names the file and gives libsndfile's reason.
  static Result<SoundFile> Open(const std::string& path);

  int SampleRate() const { return info_.samplerate; }
  int Channels() const { return info_.channels; }
  std::int64_t Frames() const { return info_.frames; }
  double DurationSeconds() const;

  // Reads up to `frames` frames of interleaved float samples into `out`
  // (room for frames × Channels()). Returns how many; 0 at the end or on a
  // decoding error.
  std::int64_t Read(float* out, std::int64_t frames);

 private:
  struct Closer {
    void operator()(SNDFILE* f) const { sf_close(f); }
  };
  SoundFile(SNDFILE* file, const SF_INFO& info) : file_(file), info_(info) {}
  std::unique_ptr<SNDFILE, Closer> file_;
  SF_INFO info_{};
};

}  // namespace platform
