#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "platform/audio_probe.h"
#include "platform/win/audio/media_foundation_sound_file.h"
#include "platform/win/audio/wasapi_audio_player.h"
#include "tests/fakes/skip_outside_ci.h"
#include "tests/fakes/temp_dir.h"

namespace {

using namespace std::chrono_literals;
using platform::kPlayStatePlaying;
using platform::kPlayStateStopped;
using platform::SteadyTime;
using platform::win::MediaFoundationSoundFile;
using platform::win::WasapiAudioPlayer;

// The sample the test files hold at frame f of channel c: a quiet sine, a
// different pitch per channel so swapped channels show. sine.mp3 holds the
// same at 44100 Hz in stereo.
float Sample(long f, int c) {
  return 0.25f * std::sin(0.01f * (c + 1) * f);
}

void PutLittle(std::string& out, std::uint32_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<char>((value >> (8 * i)) & 0xff));
}

class WinAudioTest : public ::testing::Test {
 protected:
  // A 16-bit PCM WAV of `frames` frames of Sample; its path.
  std::string WriteWav(const std::string& name, int rate, int channels, long frames) {
    std::string data;
    for (long f = 0; f < frames; ++f) {
      for (int c = 0; c < channels; ++c) {
        const auto value = static_cast<std::int16_t>(std::lround(Sample(f, c) * 32767));
        PutLittle(data, static_cast<std::uint16_t>(value), 2);
      }
    }
    std::string bytes = "RIFF";
    PutLittle(bytes, static_cast<std::uint32_t>(36 + data.size()), 4);
    bytes += "WAVEfmt ";
    PutLittle(bytes, 16, 4);
    PutLittle(bytes, 1, 2);  // PCM
    PutLittle(bytes, static_cast<std::uint32_t>(channels), 2);
    PutLittle(bytes, static_cast<std::uint32_t>(rate), 4);
    PutLittle(bytes, static_cast<std::uint32_t>(rate * channels * 2), 4);
    PutLittle(bytes, static_cast<std::uint32_t>(channels * 2), 2);
    PutLittle(bytes, 16, 2);
    bytes += "data";
    PutLittle(bytes, static_cast<std::uint32_t>(data.size()), 4);
    bytes += data;
    const std::string path = dir.File(name);
    fakes::WriteBytes(path, bytes);
    return path;
  }
  fakes::TempDir dir;
};

TEST_F(WinAudioTest, DecodesWavAndMp3ToTheFilesOwnRateAndChannels) {
  const struct {
    std::string path;
    int rate, channels;
    long frames;
    double frameSlack;  // MP3: the encoder's delay and padding, if not trimmed
    bool lossless;
  } cases[] = {{WriteWav("stereo.wav", 22050, 2, 30000), 22050, 2, 30000, 0, true},
               // A name beyond ASCII reaches the decoder whole.
               {WriteWav("Schneeflöckchen ♪.wav", 8000, 1, 8001), 8000, 1, 8001, 0, true},
               {std::string(GLIMMER_AUDIO_DATA) + "/sine.mp3", 44100, 2, 22050, 2 * 1152, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    auto opened = MediaFoundationSoundFile::Open(c.path);
    ASSERT_TRUE(opened.ok()) << opened.message();
    MediaFoundationSoundFile file = std::move(opened).value();
    EXPECT_EQ(file.SampleRate(), c.rate);
    EXPECT_EQ(file.Channels(), c.channels);
    EXPECT_NEAR(static_cast<double>(file.Frames()), c.frames, c.frameSlack);
    EXPECT_DOUBLE_EQ(file.DurationSeconds(), static_cast<double>(file.Frames()) / c.rate);

    // Pieces of an odd size, so reads end inside the decoder's own blocks.
    std::vector<float> samples, chunk(997 * static_cast<std::size_t>(c.channels));
    while (const auto n = file.Read(chunk.data(), 997)) {
      samples.insert(samples.end(), chunk.begin(), chunk.begin() + n * c.channels);
    }
    const auto decoded = static_cast<long>(samples.size()) / c.channels;
    EXPECT_NEAR(static_cast<double>(decoded), c.frames, c.frameSlack);
    // A sine of amplitude 0.25 has an RMS of about 0.18; silence or noise would not.
    double sum = 0;
    for (float s : samples) sum += double(s) * s;
    EXPECT_NEAR(std::sqrt(sum / samples.size()), 0.25 / std::sqrt(2.0), 0.03);
    for (long f = 0; c.lossless && f < decoded; f += 997) {
      for (int ch = 0; ch < c.channels; ++ch) {
        EXPECT_NEAR(samples[static_cast<std::size_t>(f * c.channels + ch)], Sample(f, ch),
                    1.0 / 16384)
            << "frame " << f << " channel " << ch;
      }
    }
    EXPECT_EQ(file.Read(chunk.data(), 997), 0) << "read on past the end";
  }
}

TEST_F(WinAudioTest, FilesThatCannotBePlayedAreRefusedWithTheirReason) {
  fakes::WriteBytes(dir.File("notes.wav"), "These are not the samples you are looking for.\n");
  fakes::WriteBytes(dir.File("empty.mp3"), "");
  std::filesystem::create_directories(dir.File("folder.wav"));
  WasapiAudioPlayer player{{.silent = true}};
  const struct {
    std::string path;
    std::string reason;  // found in the message
  } cases[] = {{dir.File("gone.mp3"), "No such file or directory"},
               {dir.File("notes.wav"), ""},
               {dir.File("empty.mp3"), ""},
               {dir.File("folder.wav"), "it is a folder, not a file"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    for (const auto& status : {player.Open(c.path), platform::ProbeSongFile(c.path)}) {
      ASSERT_FALSE(status.ok());
      EXPECT_TRUE(status.message().starts_with("cannot play audio file ")) << status.message();
      EXPECT_NE(status.message().find(c.path), std::string::npos) << status.message();
      EXPECT_NE(status.message().find(c.reason), std::string::npos) << status.message();
    }
    EXPECT_EQ(player.PlayState(), kPlayStateStopped);
    EXPECT_EQ(player.DurationSeconds(), 0.0);
  }
  EXPECT_TRUE(platform::ProbeSongFile(WriteWav("fine.wav", 8000, 1, 800)).ok());
}

TEST_F(WinAudioTest, SilentPlaybackFollowsTheClockOverTheFilesLength) {
  const std::string two = WriteWav("two-seconds.wav", 8000, 1, 16000);
  const std::string one = WriteWav("one-second.wav", 8000, 2, 8000);
  SteadyTime now(5000s);
  WasapiAudioPlayer player{{.silent = true, .now = [&] { return now; }}};
  EXPECT_EQ(player.PlayState(), kPlayStateStopped) << "playing before anything was opened";
  player.OpenOutputAhead();
  EXPECT_TRUE(player.OutputReady()) << "a silent player waits for no output";

  ASSERT_TRUE(player.Open(two).ok());
  EXPECT_TRUE(player.IsSilent());
  EXPECT_EQ(player.SilentReason(), "silent playback asked for");
  EXPECT_EQ(player.OutputLatencySeconds(), 0.0);
  EXPECT_EQ(player.DurationSeconds(), 2.0);
  const struct {
    std::chrono::milliseconds step;
    int state;
    double position;
  } steps[] = {{0ms, kPlayStatePlaying, 0.0},
               {750ms, kPlayStatePlaying, 0.75},
               {1249ms, kPlayStatePlaying, 1.999},
               {1ms, kPlayStateStopped, 2.0},
               {10s, kPlayStateStopped, 2.0}};
  for (const auto& s : steps) {
    now += s.step;
    EXPECT_EQ(player.PlayState(), s.state) << "after " << (now - SteadyTime(5000s)).count();
    EXPECT_NEAR(player.PositionSeconds(), s.position, 1e-9);
  }

  // Another file starts from zero; Stop ends it for good; Close forgets it.
  ASSERT_TRUE(player.Open(one).ok());
  EXPECT_EQ(player.DurationSeconds(), 1.0);
  EXPECT_EQ(player.PositionSeconds(), 0.0);
  now += 500ms;
  player.Stop();
  EXPECT_EQ(player.PlayState(), kPlayStateStopped);
  now += 100ms;
  EXPECT_EQ(player.PlayState(), kPlayStateStopped) << "a stopped file started again";
  player.Close();
  EXPECT_EQ(player.DurationSeconds(), 0.0);
  EXPECT_EQ(player.PositionSeconds(), 0.0);
}

// The test run starts this test once more with no sound server to be found
// (GLIMMER_NO_AUDIO_DEVICE set), where it must not be skipped.
TEST_F(WinAudioTest, WithoutADeviceFilesPlaySilentlyOnTheSteadyClockAndSayWhy) {
  const auto device = platform::ProbeAudioDevice();
  if (device.ok()) {
    // With a sound server here the fallback cannot be reached: its own run is
    // win_audio_without_device, where a device found is a failure.
    ASSERT_EQ(std::getenv("GLIMMER_NO_AUDIO_DEVICE"), nullptr)
        << "a sound device was found where none should be";
    return;
  }
  EXPECT_TRUE(device.message().starts_with("no audio device: ")) << device.message();
  SteadyTime now(100s);
  WasapiAudioPlayer player{{.now = [&] { return now; }}};
  player.OpenOutputAhead();
  EXPECT_TRUE(player.OutputReady()) << "the show would wait for an output that never comes";
  ASSERT_TRUE(player.Open(WriteWav("song.wav", 8000, 2, 8000)).ok());
  EXPECT_TRUE(player.IsSilent());
  EXPECT_EQ(player.SilentReason(), device.message());
  EXPECT_EQ(player.OutputLatencySeconds(), 0.0);
  EXPECT_EQ(player.PlayState(), kPlayStatePlaying);
  now += 400ms;
  EXPECT_NEAR(player.PositionSeconds(), 0.4, 1e-9);
  now += 600ms;
  EXPECT_EQ(player.PlayState(), kPlayStateStopped);
  EXPECT_NEAR(player.PositionSeconds(), 1.0, 1e-9);
}

// Yields until `done`, checking every position read on the way: never
// backwards, never past the song. The deadline is a safety net for a player
// that never gets there, not a timing check. `last` ends as the last read.
void PlayUntil(WasapiAudioPlayer& player, const std::function<bool()>& done, const char* never,
               double& last) {
  const auto giveUp = std::chrono::steady_clock::now() + 30s;
  last = 0.0;
  while (!done()) {
    const double p = player.PositionSeconds();
    ASSERT_GE(p, last) << "position went backwards";
    ASSERT_LE(p, player.DurationSeconds() + 1e-9);
    last = p;
    ASSERT_LT(std::chrono::steady_clock::now(), giveUp) << never;
    std::this_thread::yield();
  }
}

// Under Wine: into the PulseAudio server the test run starts (a null sink).
TEST_F(WinAudioTest, DevicePlaysEachSongFromItsFirstFrameToItsLast) {
  if (const auto device = platform::ProbeAudioDevice(); !device.ok()) {
    SKIP_OUTSIDE_CI("no sound device here: " << device.message());
  }
  WasapiAudioPlayer player;
  double last = 0.0;
  const auto ended = [&] { return player.PlayState() != kPlayStatePlaying; };
  player.OpenOutputAhead();
  PlayUntil(
      player, [&] { return player.OutputReady(); }, "the output never got ready", last);

  // The first song takes over the output opened ahead, the next one of the
  // same format the first one's, one of another format an output of its
  // own; each counts from its own first frame to its last.
  const struct {
    std::string path;
    double seconds;
  } songs[] = {{WriteWav("first.wav", 44100, 2, 11025), 0.25},
               {WriteWav("next.wav", 44100, 2, 22050), 0.5},
               {WriteWav("mono.wav", 22050, 1, 11025), 0.5},
               {std::string(GLIMMER_AUDIO_DATA) + "/sine.mp3", 0.5}};
  for (const auto& song : songs) {
    SCOPED_TRACE(song.path);
    ASSERT_TRUE(player.Open(song.path).ok());
    ASSERT_FALSE(player.IsSilent()) << player.SilentReason();
    EXPECT_NEAR(player.DurationSeconds(), song.seconds, 0.06);
    EXPECT_LT(player.PositionSeconds(), 0.1) << "counted on from the song before";
    EXPECT_GT(player.OutputLatencySeconds(), 0.0) << "the output's latency is reported";
    PlayUntil(player, ended, "the song never ended", last);
    EXPECT_GT(last, 0.0) << "the position never moved while the song played";
    EXPECT_NEAR(player.PositionSeconds(), song.seconds, 0.06) << "ended before its last frame";
  }

  // A quiet song plays as long as a loud one: the volume leaves the clock alone.
  player.SetVolumePercent(10);
  ASSERT_TRUE(player.Open(WriteWav("quiet.wav", 44100, 2, 4410)).ok());
  PlayUntil(player, ended, "the quiet song never ended", last);
  EXPECT_NEAR(player.PositionSeconds(), 0.1, 0.01);

  ASSERT_TRUE(player.Open(WriteWav("long.wav", 44100, 1, 441000)).ok());
  ASSERT_FALSE(player.IsSilent()) << player.SilentReason();
  EXPECT_EQ(player.PlayState(), kPlayStatePlaying);
  player.Stop();
  EXPECT_EQ(player.PlayState(), kPlayStateStopped);
  EXPECT_EQ(player.PositionSeconds(), 0.0) << "a stopped file is back at its start";
}

}  // namespace
