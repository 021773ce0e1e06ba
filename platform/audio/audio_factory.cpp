#include "platform/audio_factory.h"

#include "platform/audio/portaudio_audio_player.h"

namespace platform {

std::unique_ptr<AudioPlayer> MakeAudioPlayer(const AudioOptions& options) {
  return std::make_unique<PortAudioPlayer>(PortAudioPlayer::Options{.silent = options.silent});
}

}  // namespace platform
