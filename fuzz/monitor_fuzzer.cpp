// The monitor's decoder on any line: the same bytes in any pieces give the
// same lines, and no line of unknown bytes grows past its bound.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "tools/glimmer/message_decoder.h"

namespace {

std::vector<std::string> Decode(std::string_view bytes, std::size_t piece) {
  glimmer::MessageDecoder decoder;
  std::vector<std::string> texts;
  const auto keep = [&](const std::vector<glimmer::MonitorLine>& lines) {
    for (const auto& line : lines) {
      if (line.text.size() > 16 + 3 * glimmer::MessageDecoder::kMaxUnknownPerLine) std::abort();
      texts.push_back(line.text);
    }
  };
  for (std::size_t at = 0; at < bytes.size(); at += piece)
    keep(decoder.Feed(bytes.substr(at, piece), 0));
  keep(decoder.Flush());
  if (decoder.HasPending()) std::abort();
  return texts;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  // The first byte chooses the size of the pieces the rest arrives in.
  const std::string_view bytes(reinterpret_cast<const char*>(data) + 1, size - 1);
  const std::size_t piece = 1 + data[0] % 16;
  if (Decode(bytes, piece) != Decode(bytes, bytes.size() + 1)) std::abort();
  return 0;
}
