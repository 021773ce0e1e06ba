#pragma once

#include <concepts>
#include <cstddef>
#include <cstdint>
#include <string>

// Whole numbers stored least significant byte first, as the cache file, RAR
// archives and WAV files keep them, whatever the machine's own order.
namespace binary {

// Appends the sizeof(T) bytes of `value`.
template <std::unsigned_integral T>
void AppendLittle(std::string& out, T value) {
  for (std::size_t i = 0; i < sizeof(T); ++i) {
    out.push_back(static_cast<char>(static_cast<unsigned char>(value >> (8 * i))));
  }
}

// The sizeof(T) bytes at `p`.
template <std::unsigned_integral T>
T ReadLittle(const unsigned char* p) {
  T value = 0;
  for (std::size_t i = 0; i < sizeof(T); ++i) value |= static_cast<T>(T{p[i]} << (8 * i));
  return value;
}

}  // namespace binary
