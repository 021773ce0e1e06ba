#pragma once

#include <portaudio.h>

#include "platform/status.h"

namespace platform {

// Starts PortAudio. ALSA reports every card and plug-in it probes, and the
// JACK client inside PortAudio every server it does not find, on stderr
// while PortAudio looks for devices; none of it concerns the user, so it is
// kept off stderr. Pa_Terminate when it succeeded.
PaError InitializePortAudioQuietly();

// The default output device, or an error that says there is none.
Status DefaultOutputDevice(PaDeviceIndex& device, const PaDeviceInfo*& info);

}  // namespace platform
