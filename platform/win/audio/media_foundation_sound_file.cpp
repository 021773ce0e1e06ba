#include "platform/win/audio/media_foundation_sound_file.h"

// clang-format off
#include <windows.h>
#include <mfapi.h>
#include <mferror.h>
#include <mfidl.h>
#include <mfreadwrite.h>
// clang-format on

#include <algorithm>
#include <cmath>
#include <cstring>

#include "platform/file_store.h"
#include "platform/win/wide_text.h"

namespace platform::win {
namespace {

constexpr DWORD kAudio = static_cast<DWORD>(MF_SOURCE_READER_FIRST_AUDIO_STREAM);

Result<MediaFoundationSoundFile> Refusal(const std::string& path, const std::string& reason) {
  return Result<MediaFoundationSoundFile>::Error("cannot play audio file " + path + ": " + reason);
}

}  // namespace

MediaFoundationSoundFile::Started::~Started() {
  if (on_) MFShutdown();
}

HRESULT MediaFoundationSoundFile::Started::Start() {
  const HRESULT hr = MFStartup(MF_VERSION, MFSTARTUP_LITE);
  on_ = SUCCEEDED(hr);
  return hr;
}

Result<MediaFoundationSoundFile> MediaFoundationSoundFile::Open(const std::string& path) {
  // A pipe would hold the show until someone wrote to it.
  if (const Status openable = CheckOpenableFile(path); !openable) {
    return Result<MediaFoundationSoundFile>::Error("cannot play audio file " + openable.message());
  }
  // Said in the words the other platforms use, rather than the decoder's
  // own (which only says that no source could be made).
  if (KindOfPath(path) == FileKind::Missing) return Refusal(path, "No such file or directory");

  UseMultithreadedApartment();
  MediaFoundationSoundFile file;
  if (const HRESULT hr = file.started_.Start(); FAILED(hr)) {
    return Refusal(path, "Media Foundation does not start: " + HresultText(hr));
  }
  // By its name: Media Foundation picks the decoder by the file's extension
  // where the bytes leave it in doubt (an MP3 has no header of its own).
  if (const HRESULT hr =
          MFCreateSourceReaderFromURL(Widen(path).c_str(), nullptr, file.reader_.Put());
      FAILED(hr)) {
    return Refusal(path, "not a sound file that can be decoded: " + HresultText(hr));
  }
  IMFSourceReader* reader = file.reader_.Get();
  reader->SetStreamSelection(static_cast<DWORD>(MF_SOURCE_READER_ALL_STREAMS), FALSE);
  if (FAILED(reader->SetStreamSelection(kAudio, TRUE))) {
    return Refusal(path, "it holds no sound");
  }
  ComPtr<IMFMediaType> native;
  if (const HRESULT hr = reader->GetNativeMediaType(kAudio, 0, native.Put()); FAILED(hr)) {
    return Refusal(path, "it holds no sound: " + HresultText(hr));
  }
  UINT32 rate = 0;
  UINT32 channels = 0;
  native->GetUINT32(MF_MT_AUDIO_SAMPLES_PER_SECOND, &rate);
  native->GetUINT32(MF_MT_AUDIO_NUM_CHANNELS, &channels);
  if (rate == 0 || channels == 0) {
    return Refusal(path, "no sample rate or channels in its header");
  }

  // Floats at the file's own rate: every frame decoded is a frame of the file,
  // so the position stays in the file's time.
  ComPtr<IMFMediaType> wanted;
  if (const HRESULT hr = MFCreateMediaType(wanted.Put()); FAILED(hr)) {
    return Refusal(path, HresultText(hr));
  }
  wanted->SetGUID(MF_MT_MAJOR_TYPE, MFMediaType_Audio);
  wanted->SetGUID(MF_MT_SUBTYPE, MFAudioFormat_Float);
  wanted->SetUINT32(MF_MT_AUDIO_BITS_PER_SAMPLE, 32);
  wanted->SetUINT32(MF_MT_AUDIO_SAMPLES_PER_SECOND, rate);
  wanted->SetUINT32(MF_MT_AUDIO_NUM_CHANNELS, channels);
  wanted->SetUINT32(MF_MT_AUDIO_BLOCK_ALIGNMENT, channels * 4);
  wanted->SetUINT32(MF_MT_AUDIO_AVG_BYTES_PER_SECOND, rate * channels * 4);
  wanted->SetUINT32(MF_MT_ALL_SAMPLES_INDEPENDENT, TRUE);
  if (const HRESULT hr = reader->SetCurrentMediaType(kAudio, nullptr, wanted.Get()); FAILED(hr)) {
    return Refusal(path, "its sound cannot be decoded: " + HresultText(hr));
  }
  ComPtr<IMFMediaType> current;
  UINT32 bits = 0;
  if (SUCCEEDED(reader->GetCurrentMediaType(kAudio, current.Put()))) {
    current->GetUINT32(MF_MT_AUDIO_SAMPLES_PER_SECOND, &rate);
    current->GetUINT32(MF_MT_AUDIO_NUM_CHANNELS, &channels);
    current->GetUINT32(MF_MT_AUDIO_BITS_PER_SAMPLE, &bits);
  }
  if (bits != 32 || rate == 0 || channels == 0) {
    return Refusal(path, "its sound does not decode to floating-point samples");
  }
  file.rate_ = static_cast<int>(rate);
  file.channels_ = static_cast<int>(channels);

  PROPVARIANT duration;
  PropVariantInit(&duration);
  if (SUCCEEDED(reader->GetPresentationAttribute(static_cast<DWORD>(MF_SOURCE_READER_MEDIASOURCE),
                                                 MF_PD_DURATION, &duration)) &&
      duration.vt == VT_UI8) {
    // In units of 100 ns.
    file.frames_ = std::llround(static_cast<double>(duration.uhVal.QuadPart) * rate / 1e7);
  }
  PropVariantClear(&duration);
  if (file.frames_ <= 0) {
    // A file that states no length is counted once: the silent clock and the
    // show need one. Decoding starts again from the top afterwards.
    std::vector<float> scratch(4096 * static_cast<std::size_t>(channels));
    std::int64_t counted = 0;
    for (std::int64_t n; (n = file.Read(scratch.data(), 4096)) > 0;) counted += n;
    PROPVARIANT start;
    PropVariantInit(&start);
    start.vt = VT_I8;
    start.hVal.QuadPart = 0;
    const HRESULT rewound = reader->SetCurrentPosition(GUID_NULL, start);
    PropVariantClear(&start);
    if (FAILED(rewound)) {
      return Refusal(path, "its length is unknown and it cannot be rewound");
    }
    file.frames_ = counted;
    file.ended_ = false;
    file.pending_.clear();
    file.pendingAt_ = 0;
  }
  return file;
}

double MediaFoundationSoundFile::DurationSeconds() const {
  if (frames_ <= 0) return 0.0;
  return static_cast<double>(frames_) / rate_;
}

bool MediaFoundationSoundFile::DecodeNext() {
  pending_.clear();
  pendingAt_ = 0;
  while (!ended_) {
    DWORD flags = 0;
    ComPtr<IMFSample> sample;
    const HRESULT hr = reader_->ReadSample(kAudio, 0, nullptr, &flags, nullptr, sample.Put());
    if (FAILED(hr) || (flags & (MF_SOURCE_READERF_ENDOFSTREAM | MF_SOURCE_READERF_ERROR)) != 0) {
      ended_ = true;
    }
    // Gaps and format notices come without a sample; the next read goes on.
    if (!sample) continue;
    ComPtr<IMFMediaBuffer> buffer;
    if (FAILED(sample->ConvertToContiguousBuffer(buffer.Put()))) {
      ended_ = true;
      break;
    }
    BYTE* bytes = nullptr;
    DWORD length = 0;
    if (FAILED(buffer->Lock(&bytes, nullptr, &length))) {
      ended_ = true;
      break;
    }
    // Whole frames only: a torn frame would swap the channels from there on.
    const std::size_t frameBytes = sizeof(float) * static_cast<std::size_t>(channels_);
    const std::size_t usable = length / frameBytes * frameBytes;
    pending_.resize(usable / sizeof(float));
    if (usable > 0) std::memcpy(pending_.data(), bytes, usable);
    buffer->Unlock();
    if (!pending_.empty()) return true;
  }
  return false;
}

std::int64_t MediaFoundationSoundFile::Read(float* out, std::int64_t frames) {
  const auto channels = static_cast<std::size_t>(channels_);
  std::int64_t done = 0;
  while (done < frames) {
    if (pendingAt_ == pending_.size() && !DecodeNext()) break;
    const std::size_t available = (pending_.size() - pendingAt_) / channels;
    const std::size_t take = std::min(available, static_cast<std::size_t>(frames - done));
    std::memcpy(out + static_cast<std::size_t>(done) * channels, pending_.data() + pendingAt_,
                take * channels * sizeof(float));
    pendingAt_ += take * channels;
    done += static_cast<std::int64_t>(take);
  }
  return done;
}

}  // namespace platform::win
