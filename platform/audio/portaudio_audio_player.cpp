#include "platform/audio/portaudio_audio_player.h"

#include <alsa/asoundlib.h>
#include <fcntl.h>
#include <portaudio.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

namespace platform {

// Single producer (decoder thread), single consumer (audio callback).
class PortAudioPlayer::FrameRing {
 public:
  FrameRing(std::size_t frames, int channels)
      : frames_(frames),
        channels_(static_cast<std::size_t>(channels)),
        samples_(frames * channels_) {}

  std::size_t FreeFrames() const {
    return frames_ -
           (head_.load(std::memory_order_acquire) - tail_.load(std::memory_order_acquire));
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
// A device whose callback has not run for this long is gone. Through an
// audio server the first callbacks after the start can be a second apart.
constexpr std::chrono::seconds kDeviceSilence{3};

// ALSA reports every card and plug-in it probes on stderr while PortAudio
// looks for devices; none of it concerns the user.
void IgnoreAlsaMessage(const char*, int, const char*, int, const char*, ...) {}

int AudioCallback(const void*, void* output, unsigned long frames,
                  const PaStreamCallbackTimeInfo* time, PaStreamCallbackFlags, void* self) {
  auto* player = static_cast<PortAudioPlayer*>(self);
  player->FillFromRing(static_cast<float*>(output), frames,
                       time != nullptr ? time->outputBufferDacTime : 0.0,
                       time != nullptr ? time->currentTime : 0.0);
  return paContinue;
}

std::string ErrorText(int error) {
  return Pa_GetErrorText(static_cast<PaError>(error));
}

}  // namespace

PortAudioPlayer::PortAudioPlayer() : PortAudioPlayer(Options{}) {}

PortAudioPlayer::PortAudioPlayer(Options options) : options_(std::move(options)) {
  if (options_.silent) return;
  snd_lib_error_set_handler(&IgnoreAlsaMessage);
  // The JACK client library inside PortAudio writes to stderr while it looks
  // for a JACK server that is not there; the user has nothing to do about it.
  const int savedStderr = ::dup(STDERR_FILENO);
  if (const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC); null >= 0) {
    ::dup2(null, STDERR_FILENO);
    ::close(null);
  }
  const PaError e = Pa_Initialize();
  if (savedStderr >= 0) {
    ::dup2(savedStderr, STDERR_FILENO);
    ::close(savedStderr);
  }
  if (e == paNoError) {
    portAudioReady_ = true;
  } else {
    portAudioError_ = "no audio output: " + ErrorText(e);
  }
}

PortAudioPlayer::~PortAudioPlayer() {
  Close();
  if (portAudioReady_) Pa_Terminate();
}

SteadyTime PortAudioPlayer::Now() const {
  return options_.now ? options_.now() : std::chrono::steady_clock::now();
}

Status PortAudioPlayer::Open(const std::string& path) {
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
  } else if (!portAudioReady_) {
    PlaySilentlyFrom(0.0, portAudioError_);
  } else if (Status started = StartDevice(); !started) {
    PlaySilentlyFrom(0.0, started.message());
  }
  return Status::Ok();
}

Status PortAudioPlayer::StartDevice() {
  const PaDeviceIndex device = Pa_GetDefaultOutputDevice();
  const PaDeviceInfo* info = device == paNoDevice ? nullptr : Pa_GetDeviceInfo(device);
  if (info == nullptr || info->maxOutputChannels < 1) {
    return Status::Error("no audio device: none found");
  }
  // A file with more channels than the device plays its first ones.
  deviceChannels_ = std::min(fileChannels_, info->maxOutputChannels);
  ring_ = std::make_unique<FrameRing>(
      static_cast<std::size_t>(
          std::max(kDecodeChunkFrames * 2, static_cast<int>(sampleRate_ * kRingSeconds))),
      deviceChannels_);
  decodeDone_ = false;
  framesDecoded_ = 0;
  handOver_.Reset();
  estimator_.emplace(static_cast<double>(sampleRate_));

  PaStreamParameters out{};
  out.device = device;
  out.channelCount = deviceChannels_;
  out.sampleFormat = paFloat32;
  // The position allows for whatever the device holds, so a roomy buffer
  // costs no timing and keeps the music whole on a busy machine.
  out.suggestedLatency = info->defaultHighOutputLatency;
  PaStream* stream = nullptr;
  // At the file's own rate: every frame handed over is a frame of the file,
  // so the position stays in the file's time (ALSA's default device
  // converts for cards that want another rate).
  PaError e = Pa_OpenStream(&stream, nullptr, &out, sampleRate_, paFramesPerBufferUnspecified,
                            paNoFlag, &AudioCallback, this);
  if (e != paNoError) {
    ring_.reset();
    return Status::Error("no audio device: " + ErrorText(e));
  }
  stream_ = stream;
  decoder_ = std::jthread([this](std::stop_token stop) { DecodeLoop(stop); });
  deviceStart_ = Now();
  lastCallback_.store(deviceStart_.time_since_epoch().count(), std::memory_order_release);
  if (e = Pa_StartStream(stream); e != paNoError) {
    StopDevice();
    return Status::Error("no audio device: " + ErrorText(e));
  }
  mode_ = Mode::Device;
  silent_ = false;
  silentReason_.clear();
  return Status::Ok();
}

void PortAudioPlayer::DecodeLoop(std::stop_token stop) {
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

void PortAudioPlayer::FillFromRing(float* out, unsigned long frames, double dacTime,
                                   double callbackTime) {
  // How long until this buffer's first frame is heard, on PortAudio's clock
  // read right beside ours, so the two clocks never have to agree. The time
  // the callback was given may be older (some ALSA plug-ins stamp their
  // status when the server last reported), which would count that age as
  // latency still to come.
  const SteadyTime now = Now();
  const double streamTime = Pa_GetStreamTime(static_cast<PaStream*>(stream_));
  double untilHeard = 0.0;
  if (dacTime > 0.0 && streamTime > 0.0 && std::abs(dacTime - streamTime) < 2.0) {
    untilHeard = dacTime - streamTime;
  } else if (dacTime > 0.0 && callbackTime > 0.0) {
    untilHeard = std::clamp(dacTime - callbackTime, 0.0, 2.0);
  }
  lastCallback_.store(now.time_since_epoch().count(), std::memory_order_release);
  const std::size_t got = ring_->Read(out, frames);
  if (const float gain = gain_.load(std::memory_order_relaxed); gain != 1.0f) {
    for (std::size_t i = 0; i < got * static_cast<std::size_t>(deviceChannels_); ++i)
      out[i] *= gain;
  }
  // An empty ring (end of file, or the decoder fell behind) plays silence
  // that is not counted: the position stays with the music.
  std::fill(out + got * static_cast<std::size_t>(deviceChannels_),
            out + frames * static_cast<std::size_t>(deviceChannels_), 0.0f);
  const auto heardIn =
      std::chrono::duration_cast<SteadyTime::duration>(std::chrono::duration<double>(untilHeard));
  // A callback that hands over nothing (the end of the file) leaves the
  // previous one to run on to its end: its own moment lies ahead by the
  // device's latency and would hold the position short of the end for good.
  if (got > 0) handOver_.Publish(static_cast<std::int64_t>(got), now + heardIn);
}

double PortAudioPlayer::DeviceFrames() {
  return estimator_->FramesAt(handOver_.Latest(), Now());
}

bool PortAudioPlayer::DeviceLost() {
  if (Pa_IsStreamActive(static_cast<PaStream*>(stream_)) != 1) return true;
  const SteadyTime last(SteadyTime::duration(lastCallback_.load(std::memory_order_acquire)));
  return Now() - last > kDeviceSilence;
}

void PortAudioPlayer::StopDevice() {
  if (stream_ != nullptr) {
    // Returns once the callback has finished for good.
    Pa_AbortStream(static_cast<PaStream*>(stream_));
    Pa_CloseStream(static_cast<PaStream*>(stream_));
    stream_ = nullptr;
  }
  if (decoder_.joinable()) {
    decoder_.request_stop();
    decoder_.join();
  }
  ring_.reset();
}

void PortAudioPlayer::PlaySilentlyFrom(double seconds, std::string reason) {
  silent_ = true;
  silentReason_ = std::move(reason);
  silentOffset_ = seconds;
  silentStart_ = Now();
  mode_ = Mode::Silent;
}

int PortAudioPlayer::PlayState() {
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
      if (DeviceLost()) {
        // The show goes on in silence from where the music was.
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

double PortAudioPlayer::PositionSeconds() {
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

double PortAudioPlayer::DurationSeconds() {
  return file_ ? durationSeconds_ : 0.0;
}

void PortAudioPlayer::Stop() {
  StopDevice();
  // As the media player control does, a stopped file is back at its start.
  endPosition_ = 0.0;
  if (mode_ != Mode::Idle) mode_ = Mode::Ended;
}

void PortAudioPlayer::Close() {
  Stop();
  file_.reset();
  durationSeconds_ = 0.0;
  mode_ = Mode::Idle;
}

}  // namespace platform
