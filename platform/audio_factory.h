#pragma once

#include <memory>

#include "platform/audio_player.h"

namespace platform {

struct AudioOptions {
  // Never touch the sound card: every file plays silently, its position
  // following the steady clock, so a show still runs on time.
  bool silent = false;
};

// The audio player of this platform. Without a usable sound device it still
// returns a player: files then play silently in real time and IsSilent() says
// why. Every program creates its audio player here.
std::unique_ptr<AudioPlayer> MakeAudioPlayer(const AudioOptions& options = {});

}  // namespace platform
