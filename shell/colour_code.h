#pragma once

#include <QColor>
#include <QPalette>
#include <cstdint>

namespace shell {

// Colours as the window's design gives them: a system colour has the high
// bit set and its index in the low byte; a plain colour is 0x00BBGGRR.
inline constexpr std::uint32_t kButtonFace = 0x8000000F;        // system colour 15
inline constexpr std::uint32_t kButtonHighlight = 0x80000014;   // system colour 20
inline constexpr std::uint32_t kWindowBackground = 0x80000005;  // system colour 5
inline constexpr std::uint32_t kRed = 255;
inline constexpr std::uint32_t kGreen = 65280;

// Maps system colours onto the palette of the running style, so the
// highlighted button stands out the way it did on Windows (button face
// against the light edge colour).
QColor ColourFromCode(std::uint32_t code, const QPalette& palette);

}  // namespace shell
