#pragma once

#include <string>

#include "platform/status.h"

namespace platform {

// Whether a sound device is there to play into, without playing anything.
// An error says why there is none.
Status ProbeAudioDevice();

// Whether a song file opens and can be decoded, without playing it.
Status ProbeSongFile(const std::string& path);

}  // namespace platform
