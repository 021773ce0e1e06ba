#include "platform/sdl/sound_file.h"

namespace platform {

Result<SoundFile> SoundFile::Open(const std::string& path) {
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
