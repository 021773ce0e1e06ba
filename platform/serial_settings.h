#pragma once

#include <charconv>
#include <string>
#include <string_view>

#include "platform/status.h"

namespace platform {

// The baud rate of a line settings text "<rate>,N,8,1" (no parity, 8 data bits,
// 1 stop bit: the only framing the controllers speak). Anything else is an
// error that quotes the text.
inline Result<int> ParseSerialSettings(std::string_view settings) {
  const auto bad = [&] {
    return Result<int>::Error("serial line settings \"" + std::string(settings) +
                              "\" not supported: expected <baud>,N,8,1 such as 115200,N,8,1");
  };
  const auto comma = settings.find(',');
  if (comma == std::string_view::npos || comma == 0) return bad();
  int baud = 0;
  const auto [end, ec] = std::from_chars(settings.data(), settings.data() + comma, baud);
  if (ec != std::errc() || end != settings.data() + comma || baud <= 0) return bad();
  const std::string_view rest = settings.substr(comma);
  if (rest != ",N,8,1" && rest != ",n,8,1") return bad();
  return baud;
}

}  // namespace platform
