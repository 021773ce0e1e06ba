#include "platform/audio_probe.h"

#include "platform/win/audio/media_foundation_sound_file.h"
#include "platform/win/audio/wasapi_device.h"

namespace platform {

Status ProbeAudioDevice() {
  return win::CheckDefaultOutput();
}

Status ProbeSongFile(const std::string& path) {
  auto opened = win::MediaFoundationSoundFile::Open(path);
  if (!opened) return opened.status();
  if (opened.value().Frames() <= 0) return Status::Error(path + ": the song holds no sound");
  return Status::Ok();
}

}  // namespace platform
