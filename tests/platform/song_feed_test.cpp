#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "platform/audio/song_feed.h"

namespace {

using platform::SongFeed;

// A file of `frames` frames whose sample at frame f, channel c is f * 10 + c.
SongFeed::Reader Counting(std::int64_t frames, int channels) {
  return [frames, channels, next = std::int64_t{0}](float* out, std::int64_t want) mutable {
    const std::int64_t n = std::min(want, frames - next);
    for (std::int64_t f = 0; f < n; ++f) {
      for (int c = 0; c < channels; ++c) out[f * channels + c] = float((next + f) * 10 + c);
    }
    next += n;
    return n;
  };
}

TEST(SongFeedTest, HandsOverEveryFrameInOrderWithTheOutputsChannels) {
  const struct {
    int fileChannels, channels;
    std::int64_t frames;
    int rate;
  } cases[] = {{2, 2, 30000, 8000},  // more than the ring holds: the decoder waits for room
               {3, 2, 5000, 8000},   // a file with more channels gives its first ones
               {1, 1, 0, 8000}};     // no sound at all
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.fileChannels << " to " << c.channels << " channels, "
                                      << c.frames << " frames");
    SongFeed feed(Counting(c.frames, c.fileChannels), c.fileChannels, c.channels, c.rate);
    EXPECT_EQ(feed.Channels(), c.channels);
    // What is decoded ahead is there before the decoder runs.
    feed.DecodeAhead();
    std::vector<float> out(1000 * static_cast<std::size_t>(c.channels));
    std::int64_t taken = 0;
    const std::size_t ahead = feed.Take(out.data(), 1);
    EXPECT_EQ(ahead, c.frames > 0 ? 1u : 0u);
    taken += static_cast<std::int64_t>(ahead);
    feed.Start();
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    for (;;) {
      const std::size_t n = feed.Take(out.data(), 1000);
      for (std::size_t f = 0; f < n; ++f) {
        for (int ch = 0; ch < c.channels; ++ch) {
          ASSERT_EQ(out[f * c.channels + ch], float((taken + std::int64_t(f)) * 10 + ch))
              << "frame " << taken + std::int64_t(f) << " channel " << ch;
        }
      }
      taken += static_cast<std::int64_t>(n);
      if (n == 0 && feed.DecodeDone()) break;
      ASSERT_LT(std::chrono::steady_clock::now(), giveUp) << "frames stopped coming";
      std::this_thread::yield();
    }
    EXPECT_EQ(taken, c.frames);
    EXPECT_EQ(feed.FramesDecoded(), c.frames);
  }
}

// A song closed mid-way (Stop, the next song) drops its feed while the
// decoder waits for room in a full ring: that must end at once, not hang.
TEST(SongFeedTest, ASongDroppedMidWayStopsItsDecoder) {
  std::atomic<std::int64_t> read{0};
  {
    SongFeed feed(
        [&](float* out, std::int64_t want) {
          std::fill(out, out + want, 0.0f);
          read += want;
          return want;  // a song without end
        },
        1, 1, 8000);
    feed.Start();
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (read < 8000) {
      ASSERT_LT(std::chrono::steady_clock::now(), giveUp) << "the decoder never filled the ring";
      std::this_thread::yield();
    }
    EXPECT_FALSE(feed.DecodeDone());
  }
  EXPECT_LT(read.load(), 8000 + 2 * 4096) << "decoded on past a full ring";
}

}  // namespace
