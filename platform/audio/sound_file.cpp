#include "platform/audio/sound_file.h"

#include <vector>

#include "platform/file_store.h"

namespace platform {

Result<SoundFile> SoundFile::Open(const std::string& path) {
  // A pipe would hold the show until someone wrote to it.
  if (const Status openable = CheckOpenableFile(path); !openable) {
    return Result<SoundFile>::Error("cannot play audio file " + openable.message());
  }
  SF_INFO info{};
  SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
  if (!file) {
    return Result<SoundFile>::Error("cannot play audio file " + path + ": " + sf_strerror(nullptr));
  }
  if (info.samplerate <= 0 || info.channels <= 0) {
    sf_close(file);
    return Result<SoundFile>::Error("cannot play audio file " + path +
                                    ": no sample rate or channels in its header");
  }
  // Decoding to float would clip formats that store values above full scale.
  sf_command(file, SFC_SET_NORM_FLOAT, nullptr, SF_TRUE);
  if (info.frames <= 0 || info.frames == SF_COUNT_MAX) {
    // Some MP3s carry no length; the silent clock and the show need one, so
    // count it once. A file with no frames at all is counted quickly too.
    std::vector<float> scratch(4096 * static_cast<std::size_t>(info.channels));
    sf_count_t counted = 0;
    for (sf_count_t n; (n = sf_readf_float(file, scratch.data(), 4096)) > 0;) counted += n;
    if (sf_seek(file, 0, SEEK_SET) != 0) {
      sf_close(file);
      return Result<SoundFile>::Error("cannot play audio file " + path +
                                      ": its length is unknown and it cannot be rewound");
    }
    info.frames = counted;
  }
  return SoundFile(file, info);
}

double SoundFile::DurationSeconds() const {
  if (info_.frames <= 0) return 0.0;
  return static_cast<double>(info_.frames) / info_.samplerate;
}

std::int64_t SoundFile::Read(float* out, std::int64_t frames) {
  const sf_count_t n = sf_readf_float(file_.get(), out, frames);
  return n > 0 ? n : 0;
}

}  // namespace platform
