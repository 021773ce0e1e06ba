#include "binary/crc32.h"

#include <array>

namespace binary {
namespace {

constexpr auto kTable = [] {
  std::array<std::uint32_t, 256> table{};
  for (std::uint32_t i = 0; i < 256; ++i) {
    std::uint32_t c = i;
    for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
    table[i] = c;
  }
  return table;
}();

}  // namespace

void Crc32::Update(const unsigned char* bytes, std::size_t size) {
  for (std::size_t i = 0; i < size; ++i) crc_ = kTable[(crc_ ^ bytes[i]) & 0xFF] ^ (crc_ >> 8);
}

void Crc32::Update(std::string_view bytes) {
  Update(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
}

std::uint32_t Crc32::Of(std::string_view bytes) {
  Crc32 crc;
  crc.Update(bytes);
  return crc.Value();
}

}  // namespace binary
