#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "platform/audio/song_feed.h"
#include "platform/audio/stoppable_thread.h"

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

// Stopping races the thread's own end: run it often. A lost wake-up here
// hung a song's end for good (the test then never finishes).
TEST(SongFeedTest, ClosingWhileTheDecoderWaitsForRoomAlwaysReturns) {
  for (int round = 0; round < 500; ++round) {
    SongFeed feed(Counting(1'000'000'000, 2), 2, 2, 44100);
    feed.Start();
    if (round % 2 == 0) std::this_thread::yield();
  }
}

TEST(StoppableThreadTest, AStopWakesAWaitAndAMovedThreadKeepsItsFlag) {
  std::atomic<int> woken{0};
  platform::StoppableThread first([&woken](platform::StopFlag& stop) {
    if (stop.WaitFor(std::chrono::hours(1))) ++woken;
  });
  platform::StoppableThread moved = std::move(first);
  EXPECT_FALSE(first.Running());
  moved.StopAndJoin();
  EXPECT_EQ(woken.load(), 1);

  // Assigning over a running thread stops and joins it first.
  platform::StoppableThread slot([&woken](platform::StopFlag& stop) {
    while (!stop.Requested()) stop.WaitFor(std::chrono::milliseconds(1));
    ++woken;
  });
  slot = platform::StoppableThread([](platform::StopFlag&) {});
  EXPECT_EQ(woken.load(), 2);
}

}  // namespace
