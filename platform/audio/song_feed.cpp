#include "platform/audio/song_feed.h"

#include <algorithm>
#include <chrono>
#include <cstring>

namespace platform {
namespace {

constexpr int kDecodeChunkFrames = 4096;
constexpr double kRingSeconds = 1.0;

}  // namespace

FrameRing::FrameRing(std::size_t frames, int channels)
    : frames_(frames),
      channels_(static_cast<std::size_t>(channels)),
      samples_(frames * channels_) {}

std::size_t FrameRing::FreeFrames() const {
  return frames_ - (head_.load(std::memory_order_acquire) - tail_.load(std::memory_order_acquire));
}

void FrameRing::Write(const float* in, std::size_t frames) {
  const std::size_t head = head_.load(std::memory_order_relaxed);
  for (std::size_t i = 0; i < frames; ++i) {
    std::memcpy(&samples_[((head + i) % frames_) * channels_], in + i * channels_,
                channels_ * sizeof(float));
  }
  head_.store(head + frames, std::memory_order_release);
}

std::size_t FrameRing::Read(float* out, std::size_t frames) {
  const std::size_t tail = tail_.load(std::memory_order_relaxed);
  const std::size_t n = std::min(frames, head_.load(std::memory_order_acquire) - tail);
  for (std::size_t i = 0; i < n; ++i) {
    std::memcpy(out + i * channels_, &samples_[((tail + i) % frames_) * channels_],
                channels_ * sizeof(float));
  }
  tail_.store(tail + n, std::memory_order_release);
  return n;
}

SongFeed::SongFeed(Reader read, int fileChannels, int channels, int framesPerSecond)
    : estimator(static_cast<double>(framesPerSecond)),
      read_(std::move(read)),
      fileChannels_(fileChannels),
      channels_(channels),
      ring_(static_cast<std::size_t>(
                std::max(kDecodeChunkFrames * 2, static_cast<int>(framesPerSecond * kRingSeconds))),
            channels),
      chunk_(static_cast<std::size_t>(kDecodeChunkFrames * fileChannels)) {}

SongFeed::~SongFeed() {
  decoder_.StopAndJoin();
}

void SongFeed::Start() {
  decoder_ = StoppableThread([this](StopFlag& stop) { DecodeLoop(stop); });
}

std::int64_t SongFeed::DecodeChunk() {
  const std::int64_t n = read_(chunk_.data(), kDecodeChunkFrames);
  if (n == 0) return 0;
  const float* frames = chunk_.data();
  if (channels_ != fileChannels_) {
    narrowed_.resize(static_cast<std::size_t>(n * channels_));
    for (std::int64_t f = 0; f < n; ++f) {
      for (int c = 0; c < channels_; ++c) {
        narrowed_[static_cast<std::size_t>(f * channels_ + c)] =
            chunk_[static_cast<std::size_t>(f * fileChannels_ + c)];
      }
    }
    frames = narrowed_.data();
  }
  ring_.Write(frames, static_cast<std::size_t>(n));
  decoded_ += n;
  return n;
}

void SongFeed::DecodeLoop(StopFlag& stop) {
  while (!stop.Requested()) {
    if (ring_.FreeFrames() < static_cast<std::size_t>(kDecodeChunkFrames)) {
      // The ring holds a second of audio; looking again every few ms keeps it
      // full without the audio thread having to signal anything.
      stop.WaitFor(std::chrono::milliseconds(5));
      continue;
    }
    if (DecodeChunk() == 0) break;
  }
  framesDecoded_.store(decoded_, std::memory_order_release);
  decodeDone_.store(!stop.Requested(), std::memory_order_release);
}

}  // namespace platform
