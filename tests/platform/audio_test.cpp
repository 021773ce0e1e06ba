#include <sndfile.h>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <optional>
#include <random>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "platform/audio/portaudio_audio_player.h"
#include "platform/audio/position_estimator.h"
#include "platform/audio/sound_file.h"
#include "tests/fakes/skip_outside_ci.h"
#include "tests/fakes/temp_dir.h"

namespace {

using namespace std::chrono_literals;
using platform::HandOverMailbox;
using platform::kPlayStatePlaying;
using platform::kPlayStateStopped;
using platform::PortAudioPlayer;
using platform::PositionEstimator;
using platform::SoundFile;
using platform::SteadyTime;

constexpr int kWav16 = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
constexpr int kMp3 = SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III;

// The sample the test files hold at frame f of channel c: a quiet sine, a
// different pitch per channel so swapped channels show.
float Sample(long f, int c) {
  return 0.25f * std::sin(0.01f * (c + 1) * f);
}

class AudioTest : public ::testing::Test {
 protected:
  static bool CanWrite(int format) {
    SF_INFO info{};
    info.samplerate = 44100;
    info.channels = 2;
    info.format = format;
    return sf_format_check(&info) == SF_TRUE;
  }
  // Writes `frames` frames of Sample to `name`; returns its path.
  std::string Write(const std::string& name, int format, int rate, int channels, long frames) {
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = channels;
    info.format = format;
    const std::string path = dir.File(name);
    SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
    if (f == nullptr) throw std::runtime_error(sf_strerror(nullptr));
    std::vector<float> data;
    for (long i = 0; i < frames; ++i) {
      for (int c = 0; c < channels; ++c) data.push_back(Sample(i, c));
    }
    const sf_count_t written = sf_writef_float(f, data.data(), frames);
    sf_close(f);
    if (written != frames) throw std::runtime_error("short write of " + path);
    return path;
  }
  fakes::TempDir dir;
};

TEST_F(AudioTest, DecodesWavAndMp3) {
  const struct {
    const char* name;
    int format, rate, channels;
    long frames;
    double frameSlack;  // MP3: the encoder's delay and padding, if not trimmed
    bool lossless;
  } cases[] = {{"song.wav", kWav16, 22050, 2, 30000, 0, true},
               {"song.mp3", kMp3, 44100, 2, 44100, 1152, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    if (!CanWrite(c.format)) {
      SKIP_OUTSIDE_CI("this libsndfile cannot write " << c.name << " (built without LAME?)");
    }
    auto opened = SoundFile::Open(Write(c.name, c.format, c.rate, c.channels, c.frames));
    ASSERT_TRUE(opened.ok()) << opened.message();
    SoundFile file = std::move(opened).value();
    EXPECT_EQ(file.SampleRate(), c.rate);
    EXPECT_EQ(file.Channels(), c.channels);
    EXPECT_NEAR(static_cast<double>(file.Frames()), c.frames, c.frameSlack);
    EXPECT_DOUBLE_EQ(file.DurationSeconds(), static_cast<double>(file.Frames()) / c.rate);

    std::vector<float> samples, chunk(1000 * static_cast<std::size_t>(c.channels));
    while (const auto n = file.Read(chunk.data(), 1000)) {
      samples.insert(samples.end(), chunk.begin(), chunk.begin() + n * c.channels);
    }
    ASSERT_EQ(static_cast<std::int64_t>(samples.size()), file.Frames() * c.channels);
    // A sine of amplitude 0.25 has an RMS of about 0.18; silence or noise would not.
    double sum = 0;
    for (float s : samples) sum += double(s) * s;
    EXPECT_NEAR(std::sqrt(sum / samples.size()), 0.25 / std::sqrt(2.0), 0.03);
    for (long f = 0; c.lossless && f < c.frames; f += 997) {
      for (int ch = 0; ch < c.channels; ++ch) {
        EXPECT_NEAR(samples[static_cast<std::size_t>(f * c.channels + ch)], Sample(f, ch),
                    1.0 / 16384)
            << "frame " << f << " channel " << ch;
      }
    }
  }
}

TEST_F(AudioTest, SilentPlaybackFollowsTheClockOverTheFilesLength) {
  const std::string two = Write("two-seconds.wav", kWav16, 8000, 1, 16000);
  const std::string one = Write("one-second.wav", kWav16, 8000, 2, 8000);
  platform::SteadyTime now(5000s);
  PortAudioPlayer player{{.silent = true, .now = [&] { return now; }}};
  EXPECT_EQ(player.PlayState(), kPlayStateStopped) << "playing before anything was opened";

  ASSERT_TRUE(player.Open(two).ok());
  EXPECT_TRUE(player.IsSilent());
  EXPECT_EQ(player.DurationSeconds(), 2.0);
  EXPECT_EQ(player.PlayState(), kPlayStatePlaying);
  EXPECT_EQ(player.PositionSeconds(), 0.0);
  now += 750ms;
  EXPECT_DOUBLE_EQ(player.PositionSeconds(), 0.75);
  now += 1249ms;
  EXPECT_EQ(player.PlayState(), kPlayStatePlaying);
  now += 1ms;
  EXPECT_EQ(player.PlayState(), kPlayStateStopped);
  now += 10s;
  EXPECT_DOUBLE_EQ(player.PositionSeconds(), 2.0) << "ran past the end of the file";

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

  // Files that cannot be played are an error naming the file and why, and nothing plays.
  fakes::WriteBytes(dir.File("notes.wav"), "These are not the samples you are looking for.\n");
  for (const auto& [path, reason] : {std::pair{dir.File("gone.mp3"), "No such file or directory"},
                                     std::pair{dir.File("notes.wav"), ""}}) {
    const auto status = player.Open(path);
    ASSERT_FALSE(status.ok());
    const std::string prefix = "cannot play audio file " + path + ": ";
    EXPECT_EQ(status.message().substr(0, prefix.size()), prefix);
    EXPECT_GT(status.message().size(), prefix.size()) << "no reason given";
    EXPECT_NE(status.message().find(reason), std::string::npos) << status.message();
    EXPECT_EQ(player.PlayState(), kPlayStateStopped);
    EXPECT_EQ(player.DurationSeconds(), 0.0);
  }
}

// A PulseAudio server of the test's own with a null sink, which takes sound
// in real time as a card does; programs started after it play into it.
class NullSinkServer {
 public:
  explicit NullSinkServer(const std::string& folder) : folder_(folder) {
    for (const char* name : {"XDG_RUNTIME_DIR", "PULSE_SINK"}) {
      const char* value = std::getenv(name);
      saved_.emplace_back(name, value ? std::optional<std::string>(value) : std::nullopt);
    }
    std::filesystem::permissions(folder_, std::filesystem::perms::owner_all);
    setenv("XDG_RUNTIME_DIR", folder_.c_str(), 1);
    setenv("PULSE_SINK", "glimmer_test", 1);
    // --start returns once the server takes connections.
    started_ = std::system(
                   "pulseaudio --start -n --exit-idle-time=-1 "
                   "--load=module-native-protocol-unix "
                   "'--load=module-null-sink sink_name=glimmer_test' >/dev/null 2>&1") == 0;
  }
  ~NullSinkServer() {
    Kill();
    for (const auto& [name, value] : saved_) {
      value ? setenv(name.c_str(), value->c_str(), 1) : unsetenv(name.c_str());
    }
  }
  bool Started() const { return started_; }
  // A server that is already gone is what killing it wanted.
  void Kill() { started_ = started_ && std::system("pulseaudio --kill >/dev/null 2>&1") < 0; }

 private:
  std::string folder_;
  std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
  bool started_ = false;
};

// Yields until `done`, checking every position read on the way: never
// backwards, never past the song. The deadline is a safety net for a player
// that never gets there, not a timing check. `last` ends as the last read.
void PlayUntil(PortAudioPlayer& player, const std::function<bool()>& done, const char* never,
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

// Through PortAudio into a PulseAudio null sink.
TEST_F(AudioTest, DeviceStopsAtOnceAndPlaysAFileToItsLastFrame) {
  std::filesystem::create_directories(dir.File("pulse-run"));
  NullSinkServer server(dir.File("pulse-run"));
  if (!server.Started()) SKIP_OUTSIDE_CI("no PulseAudio server could be started here");
  PortAudioPlayer player;
  double last = 0.0;
  const auto ended = [&] { return player.PlayState() != kPlayStatePlaying; };
  // An output opened ahead of the first song gets ready however long the
  // idle server holds it back; the song opened beside it plays from its own
  // first frame to its last.
  player.OpenOutputAhead();
  PlayUntil(
      player, [&] { return player.OutputReady(); }, "the output never got ready", last);
  ASSERT_TRUE(player.Open(Write("first.wav", kWav16, 44100, 2, 11025)).ok());
  ASSERT_FALSE(player.IsSilent()) << player.SilentReason();
  EXPECT_NEAR(player.DurationSeconds(), 0.25, 0.03);
  EXPECT_LT(player.PositionSeconds(), 0.1);
  PlayUntil(player, ended, "the first song never ended", last);
  EXPECT_NEAR(player.PositionSeconds(), player.DurationSeconds(), 1e-6)
      << "ended before its last frame";

  // The next song starts while the last one's output still runs (in
  // silence): its position starts again from its own first frame and runs
  // to its last.
  ASSERT_TRUE(player.Open(Write("next.wav", kWav16, 44100, 2, 22050)).ok());
  ASSERT_FALSE(player.IsSilent()) << player.SilentReason();
  EXPECT_LT(player.PositionSeconds(), 0.25) << "counted on from the song before";
  PlayUntil(player, ended, "the second file never ended", last);
  EXPECT_NEAR(player.PositionSeconds(), player.DurationSeconds(), 1e-6);
  EXPECT_GT(player.OutputLatencySeconds(), 0.0) << "the output's latency is reported";

  ASSERT_TRUE(player.Open(Write("long.wav", kWav16, 44100, 1, 441000)).ok());
  ASSERT_FALSE(player.IsSilent()) << player.SilentReason();
  EXPECT_EQ(player.PlayState(), kPlayStatePlaying);
  player.Stop();
  EXPECT_EQ(player.PlayState(), kPlayStateStopped);

  // The audio server goes away mid-song: the song plays on silently from
  // where it was, and says why.
  ASSERT_TRUE(player.Open(Write("ten.wav", kWav16, 44100, 1, 441000)).ok());
  ASSERT_FALSE(player.IsSilent()) << player.SilentReason();
  PlayUntil(
      player, [&] { return player.PositionSeconds() > 0.0 || ended(); }, "the song never started",
      last);
  server.Kill();
  PlayUntil(
      player, [&] { return player.IsSilent() || ended(); }, "the loss was never noticed", last);
  EXPECT_EQ(player.PlayState(), kPlayStatePlaying) << "the song ended with its device";
  EXPECT_EQ(player.SilentReason(), "audio device lost");
  EXPECT_GE(player.PositionSeconds(), last);
  EXPECT_LT(player.PositionSeconds(), 10.0);
}

constexpr double kRate = 44100;

class PositionEstimatorTest : public ::testing::Test {
 protected:
  double At(std::chrono::microseconds t) { return estimator.FramesAt(mailbox.Latest(), t0 + t); }
  void Callback(std::int64_t frames, std::chrono::microseconds t) {
    mailbox.Publish(frames, t0 + t);
  }
  SteadyTime t0 = SteadyTime(1000s);
  HandOverMailbox mailbox;
  PositionEstimator estimator{kRate};
};

TEST_F(PositionEstimatorTest, JitteryCallbacksGiveASmoothNeverFallingNeverAheadPosition) {
  std::mt19937 random(7);
  std::uniform_int_distribution<int> jitter(-8000, 8000);  // µs around 23.2 ms
  std::uniform_int_distribution<int> burst(0, 9);          // sometimes two back to back
  std::int64_t handed = 0;
  std::chrono::microseconds t{0};
  double last = 0;
  double largestStep = 0;
  for (int k = 0; k < 2000; ++k) {
    Callback(1024, t);
    handed += 1024;
    const auto next =
        burst(random) == 0 ? 1ms : 23220us + std::chrono::microseconds(jitter(random));
    for (int q = 0; q < 8; ++q) {
      const double p = At(t + next * q / 8);
      ASSERT_GE(p, last) << "went backwards at callback " << k;
      ASSERT_LE(p, static_cast<double>(handed)) << "ahead of the audio at callback " << k;
      largestStep = std::max(largestStep, p - last);
      last = p;
    }
    t += next;
  }
  // Steps stay a fraction of a callback: the position moves smoothly.
  EXPECT_LT(largestStep, 1024.0);
  // And it keeps up with the audio over the long run.
  EXPECT_GT(last, static_cast<double>(handed) - 3 * 1024);
}

// What the device and the audio server still hold is not heard yet: with
// 50 ms of them, a callback's frames count from 50 ms after it ran.
TEST_F(PositionEstimatorTest, FramesStillInTheDeviceAreNotCountedAsHeard) {
  mailbox.Publish(4410, t0 + 50ms);  // ran at 0 ms: heard from 50 ms to 150 ms
  EXPECT_EQ(At(0us), 0.0);
  EXPECT_EQ(At(50ms), 0.0);
  EXPECT_NEAR(At(100ms), 2205.0, 1e-6) << "counted what is still in the device";
  mailbox.Publish(4410, t0 + 150ms);  // ran at 100 ms
  EXPECT_NEAR(At(100ms), 2205.0, 1e-6);
  EXPECT_NEAR(At(160ms), 4410.0 + 441.0, 1e-6);
  EXPECT_NEAR(At(10s), 8820.0, 1e-6);
}

TEST_F(PositionEstimatorTest, ResetStartsANewFileFromZero) {
  Callback(1024, 0us);
  EXPECT_GT(At(10ms), 0.0);
  mailbox.Reset();
  estimator.Reset();
  EXPECT_EQ(At(20ms), 0.0);
  Callback(100, 30ms);
  EXPECT_DOUBLE_EQ(At(30ms), 0.0);
  EXPECT_DOUBLE_EQ(At(1s), 100.0);
}

}  // namespace
