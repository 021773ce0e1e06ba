// Replaced by the SDL2 audio player.
