#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/status.h"

// A QR code of a short text (the phone page's link with its token), so that
// a phone's camera opens it instead of someone typing 64 hex digits. No Qt:
// the terminal draws it from text, and a window can paint the same modules.
namespace qr {

class QrCode {
 public:
  // The smallest code that holds `text` as bytes, with medium error
  // correction (a photo of a screen loses some). An error says why: an empty
  // text, or one longer than a QR code holds.
  static platform::Result<QrCode> Encode(std::string_view text);

  // Modules per side, without the quiet zone around them.
  int Size() const { return size_; }
  // Whether the module in column `x`, row `y` is dark; outside the code
  // (the quiet zone) every module is light.
  bool Dark(int x, int y) const {
    if (x < 0 || y < 0 || x >= size_ || y >= size_) return false;
    return dark_[static_cast<std::size_t>(y) * static_cast<std::size_t>(size_) +
                 static_cast<std::size_t>(x)] != 0;
  }

 private:
  QrCode(int size, std::vector<std::uint8_t> dark) : size_(size), dark_(std::move(dark)) {}
  int size_ = 0;
  std::vector<std::uint8_t> dark_;
};

// How the code is drawn in a terminal, two module rows to a line with the
// half blocks "▀", "▄" and "█".
enum class Terminal {
  // Black on white set by colour codes: right on dark and light terminals
  // alike. For a terminal.
  Colours,
  // No codes: the light modules are the blocks, for the usual light text on
  // a dark background (the journal, a log someone views in a terminal).
  LightOnDark,
};

// Lines ended by "\n"; a quiet zone of `quiet` modules on every side (a
// reader needs four; two do on a screen).
std::string TerminalText(const QrCode& code, Terminal terminal, int quiet = 2);

}  // namespace qr
