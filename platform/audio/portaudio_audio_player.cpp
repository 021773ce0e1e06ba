#include "platform/audio/portaudio_audio_player.h"

#include <portaudio.h>

#include <algorithm>
#include <cmath>

#include "platform/audio/portaudio_device.h"

namespace platform {

namespace {

// A device whose callback has not run for this long is gone. Through an
// audio server the first callbacks after the start can be two seconds apart
// (an idle server plays out what it rendered ahead first).
constexpr std::chrono::seconds kDeviceSilence{3};
// The output latency asked for: short enough that a song starts about when
// its entry does, long enough for a busy machine to keep the sound whole.
constexpr double kWantedOutputLatency = 0.050;
// How long the last song's output runs on beside the next one's.
constexpr std::chrono::milliseconds kRetireAfter{200};
// The longest an output that starts afresh is given to fill its buffer.
constexpr std::chrono::milliseconds kPrimeWait{60};

std::string ErrorText(int error) {
  return Pa_GetErrorText(static_cast<PaError>(error));
}

}  // namespace

struct PortAudioPlayer::Output {
  PortAudioPlayer* player = nullptr;
  void* stream = nullptr;  // PaStream
  int channels = 0;
  // Until it is set the output plays silence and leaves the song alone.
  std::atomic<bool> playsSong{false};
  std::atomic<SteadyTime::rep> lastCallback{0};
  std::atomic<std::int64_t> framesOut{0};
  // Frames past which it takes frames only as they are heard.
  std::int64_t flowsAfter = 0;
};

namespace {

int AudioCallback(const void*, void* out, unsigned long frames,
                  const PaStreamCallbackTimeInfo* time, PaStreamCallbackFlags, void* self) {
  auto* output = static_cast<PortAudioPlayer::Output*>(self);
  output->player->FillFromRing(*output, static_cast<float*>(out), frames,
                               time != nullptr ? time->outputBufferDacTime : 0.0,
                               time != nullptr ? time->currentTime : 0.0);
  return paContinue;
}

}  // namespace

PortAudioPlayer::PortAudioPlayer() : PortAudioPlayer(Options{}) {}

PortAudioPlayer::PortAudioPlayer(Options options) : options_(std::move(options)) {
  if (options_.silent) return;
  if (const PaError e = InitializePortAudioQuietly(); e == paNoError) {
    portAudioReady_ = true;
  } else {
    portAudioError_ = "no audio output: " + ErrorText(e);
  }
}

PortAudioPlayer::~PortAudioPlayer() {
  Close();
  CancelIdleClose();
  CloseOutput(output_);
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
  } else if (Status started = PlayOnDevice(); !started) {
    PlaySilentlyFrom(0.0, started.message());
  }
  return Status::Ok();
}

Status PortAudioPlayer::PlayOnDevice() {
  CancelIdleClose();
  PaDeviceIndex device = paNoDevice;
  const PaDeviceInfo* info = nullptr;
  if (Status found = DefaultOutputDevice(device, info); !found) {
    CloseOutput(output_);
    return found;
  }
  // A file with more channels than the device plays its first ones.
  const int channels = std::min(fileChannels_, info->maxOutputChannels);
  if (output_ != nullptr && DeviceLost()) CloseOutput(output_);
  // An output that runs and is heard keeps the server ready: the new one is
  // heard as it starts, so it starts with the song's first frames.
  const bool warm = output_ != nullptr && Flows(*output_);

  auto song = std::make_unique<SongFeed>(
      [this](float* out, std::int64_t frames) { return file_->Read(out, frames); }, fileChannels_,
      channels, sampleRate_);
  if (warm) song->DecodeAhead();
  song->Start();
  {
    const std::lock_guard lock(songMutex_);
    song_ = std::move(song);
  }
  std::unique_ptr<Output> opened;
  if (Status started = OpenOutput(channels, sampleRate_, warm, opened); !started) {
    RetireSong();
    CloseOutput(output_);
    return started;
  }
  // The old output goes a little later: until the server has taken the new
  // one, it is what keeps the server ready.
  CloseOutput(retiring_);
  retiring_ = std::move(output_);
  retiringSince_ = Now();
  output_ = std::move(opened);
  if (!warm) {
    // The first output of all fills the device's buffer with silence (its
    // audio thread does so right after the start); the song's first
    // hand-over then comes when the output really takes more, with the
    // moment it is heard, however long the server holds the output back.
    const auto buffer = static_cast<std::int64_t>(outputLatency_ * sampleRate_);
    const SteadyTime giveUp = std::chrono::steady_clock::now() + kPrimeWait;
    while (output_->framesOut.load(std::memory_order_acquire) < buffer &&
           std::chrono::steady_clock::now() < giveUp) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }
  output_->playsSong.store(true, std::memory_order_release);
  mode_ = Mode::Device;
  silent_ = false;
  silentReason_.clear();
  return Status::Ok();
}

Status PortAudioPlayer::OpenOutput(int channels, double rate, bool withSong,
                                   std::unique_ptr<Output>& opened) {
  const PaDeviceIndex device = Pa_GetDefaultOutputDevice();
  const PaDeviceInfo* info = Pa_GetDeviceInfo(device);
  auto output = std::make_unique<Output>();
  output->player = this;
  output->channels = channels;
  output->playsSong.store(withSong, std::memory_order_relaxed);
  output->lastCallback.store(Now().time_since_epoch().count(), std::memory_order_relaxed);
  PaStreamParameters out{};
  out.device = device;
  out.channelCount = channels;
  out.sampleFormat = paFloat32;
  // The position allows for whatever the device holds, so the latency costs
  // no timing; but a song is heard that long after it is handed over.
  out.suggestedLatency = std::max(kWantedOutputLatency, info->defaultLowOutputLatency);
  PaStream* stream = nullptr;
  // At the file's own rate: every frame handed over is a frame of the file,
  // so the position stays in the file's time (ALSA's default device
  // converts for cards that want another rate).
  PaError e = Pa_OpenStream(&stream, nullptr, &out, rate, paFramesPerBufferUnspecified, paNoFlag,
                            &AudioCallback, output.get());
  if (e != paNoError) return Status::Error("no audio device: " + ErrorText(e));
  output->stream = stream;
  const PaStreamInfo* streamInfo = Pa_GetStreamInfo(stream);
  outputLatency_ = streamInfo != nullptr ? streamInfo->outputLatency : 0.0;
  // What the output takes at its start fills the device's buffer at once;
  // past that (the buffer twice over, and a tenth of a second) it takes
  // frames only as they are heard.
  output->flowsAfter = static_cast<std::int64_t>((2 * outputLatency_ + 0.1) * rate);
  if (e = Pa_StartStream(stream); e != paNoError) {
    CloseOutput(output);
    return Status::Error("no audio device: " + ErrorText(e));
  }
  opened = std::move(output);
  return Status::Ok();
}

void PortAudioPlayer::FillFromRing(Output& output, float* out, unsigned long frames, double dacTime,
                                   double callbackTime) {
  const SteadyTime now = Now();
  output.lastCallback.store(now.time_since_epoch().count(), std::memory_order_release);
  output.framesOut.fetch_add(static_cast<std::int64_t>(frames), std::memory_order_release);
  const auto channels = static_cast<std::size_t>(output.channels);
  std::size_t got = 0;
  SongFeed* song = nullptr;
  // Never waits: the caller holds the lock only while it swaps songs, and a
  // callback of silence then costs nothing that is heard.
  std::unique_lock lock(songMutex_, std::defer_lock);
  if (output.playsSong.load(std::memory_order_acquire) && lock.try_lock()) {
    song = song_.get();
    if (song != nullptr) got = song->Take(out, frames);
  }
  if (const float gain = gain_.load(std::memory_order_relaxed); gain != 1.0f) {
    for (std::size_t i = 0; i < got * channels; ++i) out[i] *= gain;
  }
  // An empty ring (end of file, or the decoder fell behind) plays silence
  // that is not counted: the position stays with the music.
  std::fill(out + got * channels, out + frames * channels, 0.0f);
  // A callback that hands over nothing (the end of the file) leaves the
  // previous one to run on to its end: its own moment lies ahead by the
  // device's latency and would hold the position short of the end for good.
  if (got == 0) return;
  // How long until this buffer's first frame is heard, on PortAudio's clock
  // read right beside ours, so the two clocks never have to agree. The time
  // the callback was given may be older (some ALSA plug-ins stamp their
  // status when the server last reported), which would count that age as
  // latency still to come.
  const double streamTime = Pa_GetStreamTime(static_cast<PaStream*>(output.stream));
  double untilHeard = 0.0;
  if (dacTime > 0.0 && streamTime > 0.0 && std::abs(dacTime - streamTime) < 2.0) {
    untilHeard = dacTime - streamTime;
  } else if (dacTime > 0.0 && callbackTime > 0.0) {
    untilHeard = std::clamp(dacTime - callbackTime, 0.0, 2.0);
  }
  const auto heardIn =
      std::chrono::duration_cast<SteadyTime::duration>(std::chrono::duration<double>(untilHeard));
  song->handOver.Publish(static_cast<std::int64_t>(got), now + heardIn);
}

double PortAudioPlayer::DeviceFrames() {
  return song_->estimator.FramesAt(song_->handOver.Latest(), Now());
}

bool PortAudioPlayer::DeviceLost() {
  if (Pa_IsStreamActive(static_cast<PaStream*>(output_->stream)) != 1) return true;
  const SteadyTime last(
      SteadyTime::duration(output_->lastCallback.load(std::memory_order_acquire)));
  return Now() - last > kDeviceSilence;
}

void PortAudioPlayer::RetireSong() {
  if (output_ != nullptr) output_->playsSong.store(false, std::memory_order_release);
  std::unique_ptr<SongFeed> retired;
  {
    const std::lock_guard lock(songMutex_);
    retired = std::move(song_);
  }
  // Joins its decoder: the file may be closed after this.
}

void PortAudioPlayer::CloseOutput(std::unique_ptr<Output>& output) {
  if (output == nullptr) return;
  if (output->stream != nullptr) {
    // Returns once the callback has finished for good.
    Pa_AbortStream(static_cast<PaStream*>(output->stream));
    Pa_CloseStream(static_cast<PaStream*>(output->stream));
  }
  output.reset();
}

void PortAudioPlayer::CloseOutputWhenIdle() {
  CancelIdleClose();
  if (output_ == nullptr) return;
  idleCloser_ = StoppableThread([this](StopFlag& stop) {
    if (stop.WaitFor(options_.keepOutputOpen)) return;
    const std::lock_guard closing(idleOutputMutex_);
    CloseOutput(output_);
  });
}

bool PortAudioPlayer::Flows(const Output& output) {
  return output.framesOut.load(std::memory_order_acquire) >= output.flowsAfter;
}

void PortAudioPlayer::OpenOutputAhead() {
  if (options_.silent || !portAudioReady_ || mode_ == Mode::Device) return;
  CancelIdleClose();
  if (output_ != nullptr && DeviceLost()) CloseOutput(output_);
  if (output_ == nullptr) {
    PaDeviceIndex device = paNoDevice;
    const PaDeviceInfo* info = nullptr;
    // Without a device the song says why when it opens.
    if (!DefaultOutputDevice(device, info)) return;
    // Of the device's own format: the song gets an output of its own anyway.
    std::unique_ptr<Output> opened;
    if (!OpenOutput(std::min(2, info->maxOutputChannels), info->defaultSampleRate, false, opened)) {
      return;
    }
    output_ = std::move(opened);
  }
  CloseOutputWhenIdle();
}

bool PortAudioPlayer::OutputReady() {
  const std::lock_guard lock(idleOutputMutex_);
  return output_ == nullptr || Flows(*output_);
}

void PortAudioPlayer::CancelIdleClose() {
  idleCloser_.StopAndJoin();
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
      if (retiring_ != nullptr && Now() - retiringSince_ > kRetireAfter) CloseOutput(retiring_);
      if (DeviceLost()) {
        // The show goes on in silence from where the music was.
        const double at = DeviceFrames() / sampleRate_;
        RetireSong();
        CloseOutput(output_);
        PlaySilentlyFrom(at, "audio device lost");
        return PlayState();
      }
      const double frames = DeviceFrames();
      if (song_->DecodeDone() && frames >= static_cast<double>(song_->FramesDecoded())) {
        endPosition_ = frames / sampleRate_;
        // The output plays on in silence, keeping the server ready for the
        // next song.
        RetireSong();
        CloseOutputWhenIdle();
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
  // Nothing follows a stop at once (the show ends, or the program does), so
  // the output is released now rather than left running to the program's end.
  CancelIdleClose();
  RetireSong();
  CloseOutput(retiring_);
  CloseOutput(output_);
  // As the media player control does, a stopped file is back at its start.
  endPosition_ = 0.0;
  if (mode_ != Mode::Idle) mode_ = Mode::Ended;
}

void PortAudioPlayer::Close() {
  CloseOutput(retiring_);
  // The output plays on in silence for a while, ready for the next song.
  if (song_ != nullptr) {
    RetireSong();
    CloseOutputWhenIdle();
  }
  endPosition_ = 0.0;
  file_.reset();
  durationSeconds_ = 0.0;
  mode_ = Mode::Idle;
}

}  // namespace platform
