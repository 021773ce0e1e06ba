#include "qr/qr_code.h"

#include <qrencode.h>

#include <cerrno>
#include <cstring>
#include <memory>

namespace qr {
namespace {

struct FreeCode {
  void operator()(QRcode* code) const { QRcode_free(code); }
};

}  // namespace

platform::Result<QrCode> QrCode::Encode(std::string_view text) {
  using R = platform::Result<QrCode>;
  if (text.empty()) return R::Error("there is nothing to put into a QR code");
  errno = 0;
  // As bytes, whatever they hold: the mode libqrencode would guess for a
  // link changes nothing a phone reads.
  const std::unique_ptr<QRcode, FreeCode> code(
      QRcode_encodeData(static_cast<int>(text.size()),
                        reinterpret_cast<const unsigned char*>(text.data()), 0, QR_ECLEVEL_M));
  if (!code) {
    if (errno == ERANGE) {
      return R::Error("the text is " + std::to_string(text.size()) +
                      " bytes, more than a QR code holds");
    }
    return R::Error(std::string("no QR code could be made: ") + std::strerror(errno));
  }
  const int size = code->width;
  std::vector<std::uint8_t> dark(static_cast<std::size_t>(size) * static_cast<std::size_t>(size));
  // Bit 0 of each byte is the module's colour; the others say what part
  // of the code it belongs to.
  for (std::size_t i = 0; i < dark.size(); ++i) dark[i] = code->data[i] & 1u;
  return QrCode(size, std::move(dark));
}

std::string TerminalText(const QrCode& code, Terminal terminal, int quiet) {
  const bool colours = terminal == Terminal::Colours;
  const int from = -quiet;
  const int to = code.Size() + quiet;  // exclusive
  std::string text;
  for (int y = from; y < to; y += 2) {
    if (colours) text += "\x1b[30;47m";  // black on white
    for (int x = from; x < to; ++x) {
      // The glyphs mark the dark modules when the colours are set, the
      // light ones on a dark terminal. Below the last row there is nothing.
      const bool top = code.Dark(x, y) == colours;
      const bool bottom = y + 1 < to && code.Dark(x, y + 1) == colours;
      text += top && bottom ? "\u2588" : top ? "\u2580" : bottom ? "\u2584" : " ";
    }
    if (colours) text += "\x1b[0m";
    text += '\n';
  }
  return text;
}

}  // namespace qr
