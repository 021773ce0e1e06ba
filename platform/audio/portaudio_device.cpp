#include "platform/audio/portaudio_device.h"

#include <alsa/asoundlib.h>
#include <fcntl.h>
#include <unistd.h>

namespace platform {
namespace {

void IgnoreAlsaMessage(const char*, int, const char*, int, const char*, ...) {}

}  // namespace

PaError InitializePortAudioQuietly() {
  snd_lib_error_set_handler(&IgnoreAlsaMessage);
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
  return e;
}

Status DefaultOutputDevice(PaDeviceIndex& device, const PaDeviceInfo*& info) {
  device = Pa_GetDefaultOutputDevice();
  info = device == paNoDevice ? nullptr : Pa_GetDeviceInfo(device);
  if (info == nullptr || info->maxOutputChannels < 1) {
    return Status::Error("no audio device: none found");
  }
  return Status::Ok();
}

}  // namespace platform
