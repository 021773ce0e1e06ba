#include "shell/colour_code.h"

namespace shell {

QColor ColourFromCode(std::uint32_t code, const QPalette& palette) {
  if ((code & 0x80000000u) == 0) {
    return QColor(static_cast<int>(code & 0xFF), static_cast<int>((code >> 8) & 0xFF),
                  static_cast<int>((code >> 16) & 0xFF));
  }
  switch (code & 0xFF) {
    case 5:  // window background
      return palette.color(QPalette::Base);
    case 8:  // window text
      return palette.color(QPalette::Text);
    case 16:  // button shadow
      return palette.color(QPalette::Dark);
    case 18:  // button text
      return palette.color(QPalette::ButtonText);
    case 20:  // 3-D highlight
      return palette.color(QPalette::Light);
    case 15:  // button face
    default:
      return palette.color(QPalette::Button);
  }
}

}  // namespace shell
