#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace binary {

// A WAV file of 16-bit PCM: the 44-byte header, then `samples`, the channels
// of each frame next to each other. `rate` is in frames a second.
std::string PcmWav(std::uint32_t rate, std::uint16_t channels,
                   std::span<const std::int16_t> samples);

// `frames` frames of silence.
std::string SilentWav(std::uint32_t rate, std::uint16_t channels, std::uint32_t frames);

}  // namespace binary
