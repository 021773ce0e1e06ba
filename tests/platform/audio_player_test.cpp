#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "platform/sdl/sdl_audio_player.h"
#include "tests/platform/audio_test_files.h"

namespace {

using namespace std::chrono_literals;
using platform::kPlayStatePlaying;
using platform::kPlayStateStopped;
using platform::SdlAudioPlayer;
using platform::SteadyTime;

// ---- silent playback, driven by a clock the test moves ----

class SilentPlayerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(files.Write("two-seconds.wav", AudioTestFiles::kWav16, 8000, 1, 16000), "");
    ASSERT_EQ(files.Write("one-second.wav", AudioTestFiles::kWav16, 8000, 2, 8000), "");
  }
  AudioTestFiles files;
  SteadyTime now = SteadyTime(5000s);
  SdlAudioPlayer player{{.silent = true, .now = [this] { return now; }}};
};

TEST_F(SilentPlayerTest, PositionFollowsTheClockOverTheFilesLength) {
  EXPECT_EQ(player.PlayState(), kPlayStateStopped) << "playing before anything was opened";
  ASSERT_TRUE(player.Open(files.Path("two-seconds.wav")).ok());
  EXPECT_TRUE(player.IsSilent());
  EXPECT_EQ(player.DurationSeconds(), 2.0);
  EXPECT_EQ(player.PlayState(), kPlayStatePlaying);
  EXPECT_EQ(player.PositionSeconds(), 0.0);
  now += 750ms;
  EXPECT_DOUBLE_EQ(player.PositionSeconds(), 0.75);
  EXPECT_EQ(player.PlayState(), kPlayStatePlaying);
  now += 1249ms;
  EXPECT_EQ(player.PlayState(), kPlayStatePlaying);
  now += 1ms;
  EXPECT_EQ(player.PlayState(), kPlayStateStopped);
  now += 10s;
  EXPECT_DOUBLE_EQ(player.PositionSeconds(), 2.0) << "ran past the end of the file";
  EXPECT_EQ(player.PlayState(), kPlayStateStopped);
}

TEST_F(SilentPlayerTest, StopAndCloseEndPlayback) {
  ASSERT_TRUE(player.Open(files.Path("two-seconds.wav")).ok());
  now += 500ms;
  player.Stop();
  EXPECT_EQ(player.PlayState(), kPlayStateStopped);
  now += 100ms;
  EXPECT_EQ(player.PlayState(), kPlayStateStopped) << "a stopped file started again";
  player.Close();
  EXPECT_EQ(player.DurationSeconds(), 0.0);
  EXPECT_EQ(player.PlayState(), kPlayStateStopped);
}

TEST_F(SilentPlayerTest, OpeningAnotherFileStartsItFromZero) {
  ASSERT_TRUE(player.Open(files.Path("two-seconds.wav")).ok());
  now += 1500ms;
  ASSERT_TRUE(player.Open(files.Path("one-second.wav")).ok());
  EXPECT_EQ(player.DurationSeconds(), 1.0);
  EXPECT_EQ(player.PositionSeconds(), 0.0);
  now += 1s;
  EXPECT_EQ(player.PlayState(), kPlayStateStopped);
}

TEST_F(SilentPlayerTest, MissingFileIsAnErrorAndNothingPlays) {
  const auto status = player.Open(files.Path("gone.mp3"));
  ASSERT_FALSE(status.ok());
  EXPECT_NE(status.message().find(files.Path("gone.mp3")), std::string::npos) << status.message();
  EXPECT_EQ(player.PlayState(), kPlayStateStopped);
  EXPECT_EQ(player.DurationSeconds(), 0.0);
}

// ---- through SDL, on its dummy driver (no sound card needed) ----

class DummyDevicePlayerTest : public ::testing::Test {
 protected:
  void SetUp() override { setenv("SDL_AUDIODRIVER", "dummy", 1); }

  // Plays `name` to its end, checking the position on every poll. The
  // deadline is a safety net for a player that never ends, not a timing check.
  void PlayToTheEnd(const std::string& name, double expectedSeconds) {
    SdlAudioPlayer player;
    ASSERT_TRUE(player.Open(files.Path(name)).ok());
    if (player.IsSilent())
      GTEST_SKIP() << "SDL's dummy audio driver is not usable: " << player.SilentReason();
    EXPECT_NEAR(player.DurationSeconds(), expectedSeconds, 0.03);
    const auto deadline = std::chrono::steady_clock::now() + 30s;
    double last = 0.0;
    int polls = 0;
    while (player.PlayState() == kPlayStatePlaying) {
      const double p = player.PositionSeconds();
      ASSERT_GE(p, last) << "position went backwards";
      ASSERT_LE(p, player.DurationSeconds() + 1e-9);
      last = p;
      ++polls;
      ASSERT_LT(std::chrono::steady_clock::now(), deadline) << "the file never ended";
      std::this_thread::yield();
    }
    EXPECT_GT(polls, 0);
    EXPECT_NEAR(player.PositionSeconds(), player.DurationSeconds(), 1e-6)
        << "ended before its last frame";
    EXPECT_FALSE(player.IsSilent());
  }
  AudioTestFiles files;
};

TEST_F(DummyDevicePlayerTest, WavPlaysToItsLastFrame) {
  ASSERT_EQ(files.Write("short.wav", AudioTestFiles::kWav16, 44100, 2, 11025), "");
  PlayToTheEnd("short.wav", 0.25);
}

TEST_F(DummyDevicePlayerTest, Mp3PlaysToItsLastFrame) {
  if (!AudioTestFiles::CanWrite(AudioTestFiles::kMp3, 44100, 2)) {
    GTEST_SKIP() << "this libsndfile cannot write MP3 (built without LAME); no MP3 to play";
  }
  ASSERT_EQ(files.Write("short.mp3", AudioTestFiles::kMp3, 44100, 2, 11025), "");
  PlayToTheEnd("short.mp3", 0.25);
}

TEST_F(DummyDevicePlayerTest, StopEndsPlaybackAtOnce) {
  ASSERT_EQ(files.Write("long.wav", AudioTestFiles::kWav16, 44100, 1, 441000), "");
  SdlAudioPlayer player;
  ASSERT_TRUE(player.Open(files.Path("long.wav")).ok());
  EXPECT_EQ(player.PlayState(), kPlayStatePlaying);
  player.Stop();
  EXPECT_EQ(player.PlayState(), kPlayStateStopped);
  player.Close();
  EXPECT_EQ(player.DurationSeconds(), 0.0);
}

}  // namespace
