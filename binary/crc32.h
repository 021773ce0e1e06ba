#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace binary {

// CRC-32 with the zlib polynomial, as RAR keeps it for headers and data. Fed
// in pieces, it gives what one pass over the whole would.
class Crc32 {
 public:
  void Update(std::string_view bytes);
  void Update(const unsigned char* bytes, std::size_t size);
  std::uint32_t Value() const { return crc_ ^ 0xFFFFFFFFu; }

  // The CRC of `bytes` in one go.
  static std::uint32_t Of(std::string_view bytes);

 private:
  std::uint32_t crc_ = 0xFFFFFFFFu;
};

}  // namespace binary
