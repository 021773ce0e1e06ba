#include "platform/win/audio/wasapi_audio_player.h"

// clang-format off
#include <windows.h>
#include <audioclient.h>
#include <avrt.h>
#include <mmdeviceapi.h>
#include <mmreg.h>
// clang-format on

#include <algorithm>
#include <condition_variable>
#include <future>

#include "platform/win/audio/wasapi_device.h"

namespace platform::win {
namespace {

// The device buffer asked for: short enough that a song starts about when its
// entry does, long enough for a busy machine to keep the sound whole.
constexpr REFERENCE_TIME kWantedBuffer = 500000;  // 50 ms in 100 ns units
// A device that has not asked for frames for this long is gone.
constexpr std::chrono::seconds kDeviceSilence{3};
// How long the render thread sleeps at most without the device's call, so a
// stop is seen at once and a stalled device is seen at all.
constexpr DWORD kWakeAtLeastMs = 100;

// KSDATAFORMAT_SUBTYPE_IEEE_FLOAT, spelled out: its definition lives in an
// import library that is not otherwise needed.
constexpr GUID kFloatSubtype = {
    0x00000003, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71}};

// A file's channels as the speakers they go to; the output's own layout when
// the counts match.
DWORD ChannelMask(int channels, const WAVEFORMATEX* mix) {
  if (mix != nullptr && mix->nChannels == channels && mix->wFormatTag == WAVE_FORMAT_EXTENSIBLE) {
    return reinterpret_cast<const WAVEFORMATEXTENSIBLE*>(mix)->dwChannelMask;
  }
  if (channels == 1) return SPEAKER_FRONT_CENTER;
  if (channels == 2) return SPEAKER_FRONT_LEFT | SPEAKER_FRONT_RIGHT;
  return 0;
}

// Now on the clock IAudioClock stamps its positions with (100 ns units).
std::int64_t PerformanceCounterNow() {
  LARGE_INTEGER count, frequency;
  QueryPerformanceCounter(&count);
  QueryPerformanceFrequency(&frequency);
  return static_cast<std::int64_t>(static_cast<double>(count.QuadPart) * 1e7 /
                                   static_cast<double>(frequency.QuadPart));
}

}  // namespace

class WasapiAudioPlayer::Output {
 public:
  Output(WasapiAudioPlayer& player, int channels, int rate)
      : channels(channels), rate(rate), player_(player) {}
  ~Output() {
    thread_.RequestStop();
    // Wakes the render loop at once rather than at its next device call.
    if (ready_ != nullptr) SetEvent(ready_.get());
    thread_.Join();
  }
  Output(const Output&) = delete;
  Output& operator=(const Output&) = delete;

  // Returns once the stream runs, or why it does not.
  Status Start() {
    std::promise<Status> started;
    std::future<Status> result = started.get_future();
    lastFill_.store(player_.Now().time_since_epoch().count(), std::memory_order_relaxed);
    ready_.reset(CreateEventW(nullptr, FALSE, FALSE, nullptr));
    thread_ = StoppableThread([this, &started](StopFlag& stop) { Run(stop, started); });
    return result.get();
  }
  bool Lost() const {
    if (lost_.load(std::memory_order_acquire)) return true;
    const SteadyTime last(SteadyTime::duration(lastFill_.load(std::memory_order_acquire)));
    return player_.Now() - last > kDeviceSilence;
  }
  // The device plays what it is given: its clock has moved.
  bool Heard() const { return heard_.load(std::memory_order_acquire); }

  const int channels;
  const int rate;
  double latencySeconds = 0.0;  // set before Start returns
  // Until it is set the output plays silence and leaves the song alone.
  std::atomic<bool> playsSong{false};

 private:
  void Run(const StopFlag& stop, std::promise<Status>& started) {
    ComPtr<IAudioClient> client;
    ComPtr<IAudioRenderClient> render;
    ComPtr<IAudioClock> clock;
    UINT32 bufferFrames = 0;
    UINT64 clockFrequency = 0;
    if (const Status opened =
            Open(client, render, clock, bufferFrames, clockFrequency, ready_.get());
        !opened) {
      started.set_value(opened);
      return;
    }
    // The engine's own class for audio threads, where Windows has it: the
    // device is fed on time while the machine is busy.
    DWORD taskIndex = 0;
    HANDLE task = AvSetMmThreadCharacteristicsW(L"Pro Audio", &taskIndex);
    std::int64_t written = bufferFrames;  // the silence the buffer starts with
    started.set_value(Status::Ok());
    while (!stop.Requested() && Feed(*client.Get(), *render.Get(), *clock.Get(), bufferFrames,
                                     clockFrequency, ready_.get(), written)) {
    }
    lost_.store(!stop.Requested(), std::memory_order_release);
    client->Stop();
    if (task != nullptr) AvRevertMmThreadCharacteristics(task);
  }

  // One wake of the render thread: hands the device what it has room for.
  // False when the device is gone.
  bool Feed(IAudioClient& client, IAudioRenderClient& render, IAudioClock& clock,
            UINT32 bufferFrames, UINT64 clockFrequency, HANDLE ready, std::int64_t& written) {
    WaitForSingleObject(ready, kWakeAtLeastMs);
    UINT32 padding = 0;
    if (FAILED(client.GetCurrentPadding(&padding))) return false;
    const UINT32 free = bufferFrames - std::min(padding, bufferFrames);
    // Only a device that takes frames is there: one that stalls is lost
    // after kDeviceSilence.
    if (free == 0) return true;
    lastFill_.store(player_.Now().time_since_epoch().count(), std::memory_order_release);
    BYTE* data = nullptr;
    if (FAILED(render.GetBuffer(free, &data))) return false;
    // Where the device is now, from its clock: what lies between there and
    // the end of what it was given is still to be heard.
    double untilHeard = static_cast<double>(padding) / rate;
    UINT64 position = 0;
    UINT64 stamped = 0;
    if (SUCCEEDED(clock.GetPosition(&position, &stamped)) && clockFrequency > 0) {
      const double sinceStamp = std::max(
          0.0,
          static_cast<double>(PerformanceCounterNow() - static_cast<std::int64_t>(stamped)) / 1e7);
      const double heard =
          static_cast<double>(position) * rate / static_cast<double>(clockFrequency) +
          (position > 0 ? sinceStamp * rate : 0.0);
      untilHeard = std::clamp((static_cast<double>(written) - heard) / rate, 0.0, 2.0);
      if (position > 0) heard_.store(true, std::memory_order_release);
    }
    player_.FillFromSong(*this, reinterpret_cast<float*>(data), free, untilHeard);
    if (FAILED(render.ReleaseBuffer(free, 0))) return false;
    written += free;
    return true;
  }

  Status Open(ComPtr<IAudioClient>& client, ComPtr<IAudioRenderClient>& render,
              ComPtr<IAudioClock>& clock, UINT32& bufferFrames, UINT64& clockFrequency,
              HANDLE ready) {
    if (ready == nullptr) return Status::Error("no audio device: no event for the output");
    if (Status found = ActivateDefaultOutput(client); !found) return found;
    WAVEFORMATEX* mix = nullptr;
    client->GetMixFormat(&mix);
    WAVEFORMATEXTENSIBLE format{};
    format.Format.wFormatTag = WAVE_FORMAT_EXTENSIBLE;
    format.Format.nChannels = static_cast<WORD>(channels);
    format.Format.nSamplesPerSec = static_cast<DWORD>(rate);
    format.Format.wBitsPerSample = 32;
    format.Format.nBlockAlign = static_cast<WORD>(channels * 4);
    format.Format.nAvgBytesPerSec = static_cast<DWORD>(rate * channels * 4);
    format.Format.cbSize = sizeof(WAVEFORMATEXTENSIBLE) - sizeof(WAVEFORMATEX);
    format.Samples.wValidBitsPerSample = 32;
    format.dwChannelMask = ChannelMask(channels, mix);
    format.SubFormat = kFloatSubtype;
    if (mix != nullptr) CoTaskMemFree(mix);
    // At the file's own rate, the engine converting to the device's: every
    // frame handed over is a frame of the file, so the position stays in the
    // file's time.
    const DWORD flags = AUDCLNT_STREAMFLAGS_EVENTCALLBACK | AUDCLNT_STREAMFLAGS_AUTOCONVERTPCM |
                        AUDCLNT_STREAMFLAGS_SRC_DEFAULT_QUALITY;
    if (const HRESULT hr = client->Initialize(AUDCLNT_SHAREMODE_SHARED, flags, kWantedBuffer, 0,
                                              &format.Format, nullptr);
        FAILED(hr)) {
      return Status::Error("no audio device: the output does not take " + std::to_string(channels) +
                           " channels at " + std::to_string(rate) + " Hz: " + HresultText(hr));
    }
    if (const HRESULT hr = client->SetEventHandle(ready); FAILED(hr)) {
      return Status::Error("no audio device: " + HresultText(hr));
    }
    if (const HRESULT hr = client->GetBufferSize(&bufferFrames); FAILED(hr) || bufferFrames == 0) {
      return Status::Error("no audio device: the output has no buffer: " + HresultText(hr));
    }
    if (const HRESULT hr = client->GetService(__uuidof(IAudioRenderClient), render.PutVoid());
        FAILED(hr)) {
      return Status::Error("no audio device: " + HresultText(hr));
    }
    if (const HRESULT hr = client->GetService(__uuidof(IAudioClock), clock.PutVoid()); FAILED(hr)) {
      return Status::Error("no audio device: the output has no clock: " + HresultText(hr));
    }
    clock->GetFrequency(&clockFrequency);
    REFERENCE_TIME streamLatency = 0;
    client->GetStreamLatency(&streamLatency);
    latencySeconds = static_cast<double>(bufferFrames) / rate + streamLatency / 1e7;
    // The stream starts on a buffer of silence, so it never starts starved.
    BYTE* data = nullptr;
    if (const HRESULT hr = render->GetBuffer(bufferFrames, &data); FAILED(hr)) {
      return Status::Error("no audio device: " + HresultText(hr));
    }
    render->ReleaseBuffer(bufferFrames, AUDCLNT_BUFFERFLAGS_SILENT);
    if (const HRESULT hr = client->Start(); FAILED(hr)) {
      return Status::Error("no audio device: the output does not start: " + HresultText(hr));
    }
    return Status::Ok();
  }

  WasapiAudioPlayer& player_;
  std::atomic<bool> lost_{false};
  std::atomic<bool> heard_{false};
  std::atomic<SteadyTime::rep> lastFill_{0};
  // The device's call for frames; also set to wake the loop when it is to stop.
  std::unique_ptr<void, decltype(&CloseHandle)> ready_{nullptr, &CloseHandle};
  // Last, so it is stopped and joined before the rest goes.
  StoppableThread thread_;
};

WasapiAudioPlayer::WasapiAudioPlayer() : WasapiAudioPlayer(Options{}) {}

WasapiAudioPlayer::WasapiAudioPlayer(Options options) : options_(std::move(options)) {}

WasapiAudioPlayer::~WasapiAudioPlayer() {
  Close();
  CancelIdleClose();
  CloseOutput();
}

SteadyTime WasapiAudioPlayer::Now() const {
  return options_.now ? options_.now() : std::chrono::steady_clock::now();
}

Status WasapiAudioPlayer::Open(const std::string& path) {
  Close();
  auto opened = MediaFoundationSoundFile::Open(path);
  if (!opened) return opened.status();
  file_.emplace(std::move(opened).value());
  sampleRate_ = file_->SampleRate();
  fileChannels_ = file_->Channels();
  durationSeconds_ = file_->DurationSeconds();
  endPosition_ = 0.0;

  if (options_.silent) {
    PlaySilentlyFrom(0.0, "silent playback asked for");
  } else if (Status started = PlayOnDevice(); !started) {
    PlaySilentlyFrom(0.0, started.message());
  }
  return Status::Ok();
}

Status WasapiAudioPlayer::PlayOnDevice() {
  CancelIdleClose();
  // More channels than the device has would not open: a file with more
  // plays its first ones.
  int channels = fileChannels_;
  {
    ComPtr<IAudioClient> probe;
    if (Status found = ActivateDefaultOutput(probe); !found) {
      CloseOutput();
      return found;
    }
    WAVEFORMATEX* mix = nullptr;
    if (SUCCEEDED(probe->GetMixFormat(&mix)) && mix != nullptr) {
      channels = std::min<int>(channels, std::max<int>(1, mix->nChannels));
      CoTaskMemFree(mix);
    }
  }
  if (output_ != nullptr && output_->Lost()) CloseOutput();
  auto song = std::make_unique<SongFeed>(
      [this](float* out, std::int64_t frames) { return file_->Read(out, frames); }, fileChannels_,
      channels, sampleRate_);
  // An output that already runs asks for the song's first frames at once.
  song->DecodeAhead();
  song->Start();
  {
    const std::lock_guard lock(songMutex_);
    song_ = std::move(song);
  }
  if (Status started = EnsureOutput(channels, sampleRate_, true); !started) {
    RetireSong();
    CloseOutput();
    return started;
  }
  aheadChannels_ = channels;
  aheadRate_ = sampleRate_;
  mode_ = Mode::Device;
  silent_ = false;
  silentReason_.clear();
  return Status::Ok();
}

Status WasapiAudioPlayer::EnsureOutput(int channels, int rate, bool forSong) {
  if (output_ != nullptr &&
      (output_->Lost() || output_->channels != channels || output_->rate != rate)) {
    CloseOutput();
  }
  if (output_ == nullptr) {
    auto output = std::make_unique<Output>(*this, channels, rate);
    output->playsSong.store(forSong, std::memory_order_relaxed);
    if (Status started = output->Start(); !started) return started;
    output_ = std::move(output);
  }
  outputLatency_ = output_->latencySeconds;
  output_->playsSong.store(forSong, std::memory_order_release);
  return Status::Ok();
}

void WasapiAudioPlayer::FillFromSong(Output& output, float* out, std::size_t frames,
                                     double untilHeard) {
  const SteadyTime now = Now();
  const auto channels = static_cast<std::size_t>(output.channels);
  std::size_t got = 0;
  SongFeed* song = nullptr;
  // Never waits: the caller holds the lock only while it swaps songs, and a
  // period of silence then costs nothing that is heard.
  std::unique_lock lock(songMutex_, std::defer_lock);
  if (output.playsSong.load(std::memory_order_acquire) && lock.try_lock()) {
    song = song_.get();
    if (song != nullptr && song->Channels() == output.channels) got = song->Take(out, frames);
  }
  if (const float gain = gain_.load(std::memory_order_relaxed); gain != 1.0f) {
    for (std::size_t i = 0; i < got * channels; ++i) out[i] *= gain;
  }
  // An empty ring (end of file, or the decoder fell behind) plays silence
  // that is not counted: the position stays with the music.
  std::fill(out + got * channels, out + frames * channels, 0.0f);
  // A hand-over of nothing (the end of the file) leaves the previous one to
  // run on to its end.
  if (got == 0) return;
  song->handOver.Publish(static_cast<std::int64_t>(got),
                         now + std::chrono::duration_cast<SteadyTime::duration>(
                                   std::chrono::duration<double>(untilHeard)));
}

double WasapiAudioPlayer::DeviceFrames() {
  return song_->estimator.FramesAt(song_->handOver.Latest(), Now());
}

void WasapiAudioPlayer::RetireSong() {
  if (output_ != nullptr) output_->playsSong.store(false, std::memory_order_release);
  std::unique_ptr<SongFeed> retired;
  {
    const std::lock_guard lock(songMutex_);
    retired = std::move(song_);
  }
  // Joins its decoder: the file may be closed after this.
}

void WasapiAudioPlayer::CloseOutput() {
  // Joins the render thread, which stops the stream.
  output_.reset();
}

void WasapiAudioPlayer::CloseOutputWhenIdle() {
  CancelIdleClose();
  if (output_ == nullptr) return;
  idleCloser_ = StoppableThread([this](StopFlag& stop) {
    if (stop.WaitFor(options_.keepOutputOpen)) return;
    const std::lock_guard closing(idleOutputMutex_);
    CloseOutput();
  });
}

void WasapiAudioPlayer::CancelIdleClose() {
  idleCloser_.StopAndJoin();
}

void WasapiAudioPlayer::OpenOutputAhead() {
  if (options_.silent || mode_ == Mode::Device) return;
  CancelIdleClose();
  // Without a device the song says why when it opens.
  if (!EnsureOutput(aheadChannels_, aheadRate_, false)) return;
  CloseOutputWhenIdle();
}

bool WasapiAudioPlayer::OutputReady() {
  const std::lock_guard lock(idleOutputMutex_);
  return output_ == nullptr || output_->Heard() || output_->Lost();
}

void WasapiAudioPlayer::PlaySilentlyFrom(double seconds, std::string reason) {
  silent_ = true;
  silentReason_ = std::move(reason);
  silentOffset_ = seconds;
  silentStart_ = Now();
  mode_ = Mode::Silent;
}

int WasapiAudioPlayer::PlayState() {
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
      if (output_->Lost()) {
        // The show goes on in silence from where the music was.
        const double at = DeviceFrames() / sampleRate_;
        RetireSong();
        CloseOutput();
        PlaySilentlyFrom(at, "audio device lost");
        return PlayState();
      }
      const double frames = DeviceFrames();
      if (song_->DecodeDone() && frames >= static_cast<double>(song_->FramesDecoded())) {
        endPosition_ = frames / sampleRate_;
        // The output plays on in silence, ready for the next song.
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

double WasapiAudioPlayer::PositionSeconds() {
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

double WasapiAudioPlayer::DurationSeconds() {
  return file_ ? durationSeconds_ : 0.0;
}

void WasapiAudioPlayer::Stop() {
  // Nothing follows a stop at once (the show ends, or the program does), so
  // the device is released now rather than left running to the program's end.
  CancelIdleClose();
  RetireSong();
  CloseOutput();
  // As the media player control does, a stopped file is back at its start.
  endPosition_ = 0.0;
  if (mode_ != Mode::Idle) mode_ = Mode::Ended;
}

void WasapiAudioPlayer::Close() {
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

}  // namespace platform::win
