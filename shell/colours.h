#pragma once

#include <cstdint>

namespace shell {

// Colours as the window's design gives them: a system colour has the high
// bit set and its index in the low byte; a plain colour is 0x00BBGGRR.
inline constexpr std::uint32_t kButtonFace = 0x8000000F;        // system colour 15
inline constexpr std::uint32_t kButtonHighlight = 0x80000014;   // system colour 20
inline constexpr std::uint32_t kWindowBackground = 0x80000005;  // system colour 5
inline constexpr std::uint32_t kWindowText = 0x80000008;        // system colour 8
inline constexpr std::uint32_t kRed = 255;
inline constexpr std::uint32_t kGreen = 65280;
// The status line's orange, the notices' dark red.
inline constexpr std::uint32_t kOrange = 0x000080FF;
inline constexpr std::uint32_t kDarkRed = 0x000000A0;

}  // namespace shell
