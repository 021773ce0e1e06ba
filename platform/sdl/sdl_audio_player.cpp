#include "platform/sdl/sdl_audio_player.h"

#include <SDL.h>

#include <algorithm>
#include <cstring>

namespace platform {

// Single producer (decoder thread), single consumer (audio callback).
class SdlAudioPlayer::FrameRing {
 public:
  FrameRing(std::size_t frames, int channels)
      : frames_(frames),
        channels_(static_cast<std::size_t>(channels)),
        samples_(frames * channels_) {}

  std::size_t FreeFrames() const {
    return frames_ -
           (head_.load(std::memory_order_acquire) - tail_.load(std::memory_order_acquire));
  }
  std::size_t AvailableFrames() const {
    return head_.load(std::memory_order_acquire) - tail_.load(std::memory_order_acquire);
  }

  void Write(const float* in, std::size_t frames) {
    const std::size_t head = head_.load(std::memory_order_relaxed);
    for (std::size_t i = 0; i < frames; ++i) {
      std::memcpy(&samples_[((head + i) % frames_) * channels_], in + i * channels_,
                  channels_ * sizeof(float));
    }
    head_.store(head + frames, std::memory_order_release);
  }

  std::size_t Read(float* out, std::size_t frames) {
    const std::size_t tail = tail_.load(std::memory_order_relaxed);
    const std::size_t n = std::min(frames, head_.load(std::memory_order_acquire) - tail);
    for (std::size_t i = 0; i < n; ++i) {
      std::memcpy(out + i * channels_, &samples_[((tail + i) % frames_) * channels_],
                  channels_ * sizeof(float));
    }
    tail_.store(tail + n, std::memory_order_release);
    return n;
  }

 private:
  const std::size_t frames_;
  const std::size_t channels_;
  std::vector<float> samples_;
  std::atomic<std::size_t> head_{0};  // frames written, ever
  std::atomic<std::size_t> tail_{0};  // frames read, ever
};

namespace {

constexpr int kDecodeChunkFrames = 4096;
constexpr double kRingSeconds = 1.0;
constexpr int kMaxDeviceChannels = 8;

}  // namespace

SdlAudioPlayer::SdlAudioPlayer() : SdlAudioPlayer(Options{}) {}

SdlAudioPlayer::SdlAudioPlayer(Options options) : options_(std::move(options)) {
  if (options_.silent) return;
  if (SDL_InitSubSystem(SDL_INIT_AUDIO) == 0) {
    sdlReady_ = true;
  } else {
    sdlError_ = std::string("no audio output: ") + SDL_GetError();
  }
}

SdlAudioPlayer::~SdlAudioPlayer() {
  Close();
  if (sdlReady_) SDL_QuitSubSystem(SDL_INIT_AUDIO);
}

SteadyTime SdlAudioPlayer::Now() const {
  return options_.now ? options_.now() : std::chrono::steady_clock::now();
}

bool SdlAudioPlayer::IsSilent() const {
  return silent_;
}

Status SdlAudioPlayer::Open(const std::string& path) {
  Close();
  auto opened = SoundFile::Open(path);
  if (!opened) return opened.status();
  file_.emplace(std::move(opened).value());
  sampleRate_ = file_->SampleRate();
  fileChannels_ = file_->Channels();
  durationSeconds_ = file_->DurationSeconds();
  endPosition_ = 0.0;

  if (options_.silent) {
    PlaySilentlyFrom(0.0, "silent playback asked for");
    return Status::Ok();
  }
  if (!sdlReady_) {
    PlaySilentlyFrom(0.0, sdlError_);
    return Status::Ok();
  }
  if (auto s = StartDevice(); !s) PlaySilentlyFrom(0.0, s.message());
  return Status::Ok();
}

Status SdlAudioPlayer::StartDevice() {
  deviceChannels_ = fileChannels_ <= kMaxDeviceChannels ? fileChannels_ : 2;
  ring_ = std::make_unique<FrameRing>(
      static_cast<std::size_t>(
          std::max(kDecodeChunkFrames * 2, static_cast<int>(sampleRate_ * kRingSeconds))),
      deviceChannels_);
  decodeDone_ = false;
  framesDecoded_ = 0;
  handOver_.Reset();
  estimator_.emplace(static_cast<double>(sampleRate_));
  SDL_AudioSpec want{};
  want.freq = sampleRate_;
  want.format = AUDIO_F32SYS;
  want.channels = static_cast<Uint8>(deviceChannels_);
  want.samples = 1024;
  want.callback = &SdlAudioPlayer::AudioCallback;
  want.userdata = this;
  SDL_AudioSpec have{};
  // No allowed changes: SDL converts rate, format and channels itself, so
  // every frame the callback hands over is a frame of the file and the
  // position stays in the file's own time.
  device_ = SDL_OpenAudioDevice(nullptr, 0, &want, &have, 0);
  if (device_ == 0) {
    ring_.reset();
    return Status::Error(std::string("no audio device: ") + SDL_GetError());
  }

  decoder_ = std::jthread([this](std::stop_token stop) { DecodeLoop(stop); });
  mode_ = Mode::Device;
  silent_ = false;
  silentReason_.clear();
  SDL_PauseAudioDevice(device_, 0);
  return Status::Ok();
}

void SdlAudioPlayer::DecodeLoop(std::stop_token stop) {
  std::vector<float> chunk(static_cast<std::size_t>(kDecodeChunkFrames * fileChannels_));
  std::vector<float> narrowed;
  std::int64_t decoded = 0;
  while (!stop.stop_requested()) {
    if (ring_->FreeFrames() < static_cast<std::size_t>(kDecodeChunkFrames)) {
      // The ring holds a second of audio; looking again every few ms keeps it
      // full without the callback having to signal anything.
      std::unique_lock lock(decoderMutex_);
      decoderWake_.wait_for(lock, stop, std::chrono::milliseconds(5), [] { return false; });
      continue;
    }
    const std::int64_t n = file_->Read(chunk.data(), kDecodeChunkFrames);
    if (n == 0) break;
    const float* frames = chunk.data();
    if (deviceChannels_ != fileChannels_) {
      narrowed.resize(static_cast<std::size_t>(n * deviceChannels_));
      for (std::int64_t f = 0; f < n; ++f) {
        for (int c = 0; c < deviceChannels_; ++c) {
          narrowed[static_cast<std::size_t>(f * deviceChannels_ + c)] =
              chunk[static_cast<std::size_t>(f * fileChannels_ + c)];
        }
      }
      frames = narrowed.data();
    }
    ring_->Write(frames, static_cast<std::size_t>(n));
    decoded += n;
  }
  framesDecoded_.store(decoded, std::memory_order_release);
  decodeDone_.store(!stop.stop_requested(), std::memory_order_release);
}

void SdlAudioPlayer::AudioCallback(void* self, std::uint8_t* stream, int length) {
  auto* player = static_cast<SdlAudioPlayer*>(self);
  const int frames = length / static_cast<int>(sizeof(float) * player->deviceChannels_);
  player->FillFromRing(reinterpret_cast<float*>(stream), frames);
}

void SdlAudioPlayer::FillFromRing(float* out, int frames) {
  const std::size_t got = ring_->Read(out, static_cast<std::size_t>(frames));
  // An empty ring (end of file, or the decoder fell behind) plays silence
  // that is not counted: the position stays with the music.
  std::fill(out + got * static_cast<std::size_t>(deviceChannels_),
            out + static_cast<std::size_t>(frames * deviceChannels_), 0.0f);
  handOver_.Publish(static_cast<std::int64_t>(got), Now());
}

double SdlAudioPlayer::DeviceFrames() {
  return estimator_->FramesAt(handOver_.Latest(), Now());
}

void SdlAudioPlayer::StopDevice() {
  if (device_ != 0) {
    // Returns once the callback has finished for good.
    SDL_CloseAudioDevice(device_);
    device_ = 0;
  }
  if (decoder_.joinable()) {
    decoder_.request_stop();
    decoder_.join();
  }
  ring_.reset();
}

void SdlAudioPlayer::PlaySilentlyFrom(double seconds, std::string reason) {
  silent_ = true;
  silentReason_ = std::move(reason);
  silentOffset_ = seconds;
  silentStart_ = Now();
  mode_ = Mode::Silent;
}

int SdlAudioPlayer::PlayState() {
  switch (mode_) {
    case Mode::Idle:
    case Mode::Ended:
      return kPlayStateStopped;
    case Mode::Silent:
      if (PositionSeconds() >= durationSeconds_) {
        endPosition_ = durationSeconds_;
        mode_ = Mode::Ended;
        return kPlayStateStopped;
      }
      return kPlayStatePlaying;
    case Mode::Device: {
      if (SDL_GetAudioDeviceStatus(device_) == SDL_AUDIO_STOPPED) {
        // The device went away (unplugged headset, audio server restart):
        // the show goes on in silence from where the music was.
        const double at = DeviceFrames() / sampleRate_;
        StopDevice();
        PlaySilentlyFrom(at, "audio device lost");
        return PlayState();
      }
      const double frames = DeviceFrames();
      if (decodeDone_.load(std::memory_order_acquire) &&
          frames >= static_cast<double>(framesDecoded_.load(std::memory_order_acquire))) {
        endPosition_ = frames / sampleRate_;
        StopDevice();
        mode_ = Mode::Ended;
        return kPlayStateStopped;
      }
      return kPlayStatePlaying;
    }
  }
  return kPlayStateStopped;
}

double SdlAudioPlayer::PositionSeconds() {
  switch (mode_) {
    case Mode::Idle:
      return 0.0;
    case Mode::Ended:
      return endPosition_;
    case Mode::Silent: {
      const double elapsed = std::chrono::duration<double>(Now() - silentStart_).count();
      return std::min(silentOffset_ + std::max(0.0, elapsed), durationSeconds_);
    }
    case Mode::Device:
      return DeviceFrames() / sampleRate_;
  }
  return 0.0;
}

double SdlAudioPlayer::DurationSeconds() {
  return file_ ? durationSeconds_ : 0.0;
}

void SdlAudioPlayer::Stop() {
  StopDevice();
  // As the media player control does, a stopped file is back at its start.
  endPosition_ = 0.0;
  if (mode_ != Mode::Idle) mode_ = Mode::Ended;
}

void SdlAudioPlayer::Close() {
  Stop();
  file_.reset();
  durationSeconds_ = 0.0;
  mode_ = Mode::Idle;
}

}  // namespace platform
