#pragma once

#include "platform/status.h"
#include "platform/win/audio/com_support.h"

// Audio and Media Foundation headers do not mix in one file: callers that
// decode see the client by name only.
struct IAudioClient;

namespace platform::win {

// The default sound output's audio client, not yet initialised, or an error
// that says there is none ("no audio device: ...").
Status ActivateDefaultOutput(ComPtr<IAudioClient>& client);

// Whether the default sound output opens and says what it mixes in.
Status CheckDefaultOutput();

}  // namespace platform::win
