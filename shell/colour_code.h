#pragma once

#include <QColor>
#include <QPalette>
#include <cstdint>

#include "shell/colours.h"

namespace shell {

// Maps system colours onto the palette of the running style, so the
// highlighted button stands out the way it did on Windows (button face
// against the light edge colour).
QColor ColourFromCode(std::uint32_t code, const QPalette& palette);

}  // namespace shell
