#include "platform/audio_factory.h"

#include "platform/sdl/sdl_audio_player.h"

namespace platform {

std::unique_ptr<AudioPlayer> MakeAudioPlayer(const AudioOptions& options) {
  return std::make_unique<SdlAudioPlayer>(SdlAudioPlayer::Options{.silent = options.silent});
}

}  // namespace platform
