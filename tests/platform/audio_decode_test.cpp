#include <cmath>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/sdl/sound_file.h"
#include "tests/platform/audio_test_files.h"

namespace {

using platform::SoundFile;

std::vector<float> ReadAll(SoundFile& file) {
  std::vector<float> all;
  std::vector<float> chunk(1000 * static_cast<std::size_t>(file.Channels()));
  while (const auto n = file.Read(chunk.data(), 1000)) {
    all.insert(all.end(), chunk.begin(), chunk.begin() + n * file.Channels());
  }
  return all;
}

double Rms(const std::vector<float>& samples) {
  double sum = 0;
  for (float s : samples) sum += double(s) * s;
  return samples.empty() ? 0 : std::sqrt(sum / samples.size());
}

TEST(SoundFileDecode, WavGivesItsFramesRateChannelsAndSamples) {
  AudioTestFiles files;
  ASSERT_EQ(files.Write("song.wav", AudioTestFiles::kWav16, 22050, 2, 30000), "");
  auto opened = SoundFile::Open(files.Path("song.wav"));
  ASSERT_TRUE(opened.ok()) << opened.message();
  SoundFile file = std::move(opened).value();
  EXPECT_EQ(file.SampleRate(), 22050);
  EXPECT_EQ(file.Channels(), 2);
  EXPECT_EQ(file.Frames(), 30000);
  EXPECT_DOUBLE_EQ(file.DurationSeconds(), 30000.0 / 22050);

  const auto samples = ReadAll(file);
  ASSERT_EQ(samples.size(), 60000u);
  for (long f = 0; f < 30000; f += 997) {
    for (int c = 0; c < 2; ++c) {
      EXPECT_NEAR(samples[static_cast<std::size_t>(f * 2 + c)], AudioTestFiles::Sample(f, c),
                  1.0 / 16384)
          << "frame " << f << " channel " << c;
    }
  }
}

TEST(SoundFileDecode, Mp3GivesItsLengthAndTheMusic) {
  if (!AudioTestFiles::CanWrite(AudioTestFiles::kMp3, 44100, 2)) {
    GTEST_SKIP() << "this libsndfile cannot write MP3 (built without LAME), so the test cannot "
                    "make one; MP3 decoding is untested here";
  }
  AudioTestFiles files;
  ASSERT_EQ(files.Write("song.mp3", AudioTestFiles::kMp3, 44100, 2, 44100), "");
  auto opened = SoundFile::Open(files.Path("song.mp3"));
  ASSERT_TRUE(opened.ok()) << opened.message();
  SoundFile file = std::move(opened).value();
  EXPECT_EQ(file.SampleRate(), 44100);
  EXPECT_EQ(file.Channels(), 2);
  // The encoder's delay and padding are trimmed by the gapless header; allow a
  // frame of slack for a decoder that does not.
  EXPECT_NEAR(static_cast<double>(file.Frames()), 44100, 1152);
  const auto samples = ReadAll(file);
  EXPECT_EQ(static_cast<std::int64_t>(samples.size()), file.Frames() * 2);
  // A sine of amplitude 0.25 has an RMS of about 0.18; silence or noise would not.
  EXPECT_NEAR(Rms(samples), 0.25 / std::sqrt(2.0), 0.03);
}

TEST(SoundFileDecode, MissingFileNamesTheFileAndTheReason) {
  auto opened = SoundFile::Open("/tmp/glimmer-no-such-dir/song.mp3");
  ASSERT_FALSE(opened.ok());
  EXPECT_NE(opened.message().find("/tmp/glimmer-no-such-dir/song.mp3"), std::string::npos);
  EXPECT_NE(opened.message().find("No such file or directory"), std::string::npos)
      << opened.message();
}

TEST(SoundFileDecode, FileThatIsNotAudioIsRefusedWithLibsndfilesReason) {
  AudioTestFiles files;
  std::ofstream(files.Path("notes.wav")) << "These are not the samples you are looking for.\n";
  auto opened = SoundFile::Open(files.Path("notes.wav"));
  ASSERT_FALSE(opened.ok());
  const std::string prefix = "cannot play audio file " + files.Path("notes.wav") + ": ";
  ASSERT_EQ(opened.message().substr(0, prefix.size()), prefix);
  EXPECT_GT(opened.message().size(), prefix.size()) << "no reason given";
}

}  // namespace
