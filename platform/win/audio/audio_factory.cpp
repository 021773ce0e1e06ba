#include "platform/audio_factory.h"

#include "platform/win/audio/wasapi_audio_player.h"

namespace platform {

std::unique_ptr<AudioPlayer> MakeAudioPlayer(const AudioOptions& options) {
  return std::make_unique<win::WasapiAudioPlayer>(
      win::WasapiAudioPlayer::Options{.silent = options.silent});
}

}  // namespace platform
