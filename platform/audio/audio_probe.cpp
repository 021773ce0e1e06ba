#include "platform/audio_probe.h"

#include "platform/audio/portaudio_device.h"
#include "platform/audio/sound_file.h"

namespace platform {

Status ProbeAudioDevice() {
  if (const PaError e = InitializePortAudioQuietly(); e != paNoError) {
    return Status::Error(std::string("no audio output: ") + Pa_GetErrorText(e));
  }
  PaDeviceIndex device = paNoDevice;
  const PaDeviceInfo* info = nullptr;
  Status found = DefaultOutputDevice(device, info);
  Pa_Terminate();
  return found;
}

Status ProbeSongFile(const std::string& path) {
  auto opened = SoundFile::Open(path);
  if (!opened) return opened.status();
  if (opened.value().Frames() <= 0) return Status::Error(path + ": the song holds no sound");
  return Status::Ok();
}

}  // namespace platform
