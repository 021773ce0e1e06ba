#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/audio/position_estimator.h"
#include "platform/audio/stoppable_thread.h"

namespace platform {

// Single producer (decoder thread), single consumer (audio thread) ring of
// interleaved float frames.
class FrameRing {
 public:
  FrameRing(std::size_t frames, int channels);

  std::size_t FreeFrames() const;
  void Write(const float* in, std::size_t frames);
  // Up to `frames` frames; how many there were.
  std::size_t Read(float* out, std::size_t frames);

 private:
  const std::size_t frames_;
  const std::size_t channels_;
  std::vector<float> samples_;
  std::atomic<std::size_t> head_{0};  // frames written, ever
  std::atomic<std::size_t> tail_{0};  // frames read, ever
};

// One song on its way to the output: decoded into a ring about a second
// ahead of the audio thread, its hand-overs counted from its own first
// frame. The audio thread takes frames and publishes hand-overs; the
// caller's thread asks the estimator where the song is.
class SongFeed {
 public:
  // Reads up to `frames` frames of the file's channels into `out`; how many
  // (0 at the end of the file).
  using Reader = std::function<std::int64_t(float* out, std::int64_t frames)>;

  // A file with more channels than `channels` gives its first ones.
  SongFeed(Reader read, int fileChannels, int channels, int framesPerSecond);
  ~SongFeed();  // stops and joins the decoder
  SongFeed(const SongFeed&) = delete;
  SongFeed& operator=(const SongFeed&) = delete;

  // One piece decoded on the caller's thread, so the song's first frames are
  // there the moment an output already running asks. Before Start only.
  void DecodeAhead() { DecodeChunk(); }
  void Start();

  int Channels() const { return channels_; }
  // Audio thread.
  std::size_t Take(float* out, std::size_t frames) { return ring_.Read(out, frames); }
  // Whether the decoder reached the end of the file, and then the song's
  // length in frames.
  bool DecodeDone() const { return decodeDone_.load(std::memory_order_acquire); }
  std::int64_t FramesDecoded() const { return framesDecoded_.load(std::memory_order_acquire); }

  HandOverMailbox handOver;
  PositionEstimator estimator;  // the caller's thread only

 private:
  void DecodeLoop(StopFlag& stop);
  std::int64_t DecodeChunk();

  Reader read_;
  const int fileChannels_;
  const int channels_;
  FrameRing ring_;
  // The decoding side only: the caller's thread before the decoder starts.
  std::int64_t decoded_ = 0;
  std::vector<float> chunk_, narrowed_;
  std::atomic<bool> decodeDone_{false};
  std::atomic<std::int64_t> framesDecoded_{0};
  // Last, so it is stopped and joined before the rest goes.
  StoppableThread decoder_;
};

}  // namespace platform
