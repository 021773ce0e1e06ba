#pragma once

#include <sndfile.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <string>
#include <vector>

// Sound files the audio tests make for themselves, in a folder that goes with
// the object.
class AudioTestFiles {
 public:
  AudioTestFiles() {
    char dir[] = "/tmp/glimmer-audio-XXXXXX";
    if (mkdtemp(dir)) dir_ = dir;
  }
  ~AudioTestFiles() {
    if (!dir_.empty()) std::filesystem::remove_all(dir_);
  }
  AudioTestFiles(const AudioTestFiles&) = delete;
  AudioTestFiles& operator=(const AudioTestFiles&) = delete;

  std::string Path(const std::string& name) const { return dir_ + "/" + name; }

  // The sample the files hold at frame f of channel c: a quiet sine, a
  // different pitch per channel so swapped channels show.
  static float Sample(long f, int c) { return 0.25f * std::sin(0.01f * (c + 1) * f); }

  static bool CanWrite(int format, int rate, int channels) {
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = channels;
    info.format = format;
    return sf_format_check(&info) == SF_TRUE;
  }

  // Writes `frames` frames; returns "" on success or libsndfile's reason.
  std::string Write(const std::string& name, int format, int rate, int channels, long frames) {
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = channels;
    info.format = format;
    SNDFILE* f = sf_open(Path(name).c_str(), SFM_WRITE, &info);
    if (!f) return sf_strerror(nullptr);
    std::vector<float> data(static_cast<std::size_t>(frames * channels));
    for (long i = 0; i < frames; ++i) {
      for (int c = 0; c < channels; ++c)
        data[static_cast<std::size_t>(i * channels + c)] = Sample(i, c);
    }
    const sf_count_t written = sf_writef_float(f, data.data(), frames);
    sf_close(f);
    return written == frames ? "" : "short write";
  }

  static constexpr int kWav16 = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
  static constexpr int kMp3 = SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III;

 private:
  std::string dir_;
};
