#include "platform/audio_probe.h"

#include <alsa/asoundlib.h>
#include <fcntl.h>
#include <portaudio.h>
#include <unistd.h>

#include "platform/audio/sound_file.h"

namespace platform {
namespace {

void IgnoreAlsaMessage(const char*, int, const char*, int, const char*, ...) {}

}  // namespace

Status ProbeAudioDevice() {
  snd_lib_error_set_handler(&IgnoreAlsaMessage);
  // As the player does: the JACK client inside PortAudio talks to stderr
  // while it looks for a server that is not there.
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
  if (e != paNoError) return Status::Error(std::string("no audio output: ") + Pa_GetErrorText(e));
  const PaDeviceIndex device = Pa_GetDefaultOutputDevice();
  const PaDeviceInfo* info = device == paNoDevice ? nullptr : Pa_GetDeviceInfo(device);
  const bool usable = info != nullptr && info->maxOutputChannels > 0;
  Pa_Terminate();
  if (!usable) return Status::Error("no audio device: none found");
  return Status::Ok();
}

Status ProbeSongFile(const std::string& path) {
  auto opened = SoundFile::Open(path);
  if (!opened) return opened.status();
  if (opened.value().Frames() <= 0) return Status::Error(path + ": the song holds no sound");
  return Status::Ok();
}

}  // namespace platform
