#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace fakes {

// One entry of a RAR 4.x archive, stored (not compressed).
struct RarEntry {
  std::string name;  // as stored: "\" or "/" separators, as the test wants
  std::string data;
  bool directory = false;
  // Host OS 2 (Windows) reads `attributes` as DOS attributes; host OS 3
  // (Unix) reads them as st_mode, which lets a test store a symlink
  // (0120777, data = target).
  std::uint8_t hostOs = 2;
  std::uint32_t attributes = 0x20;  // FILE_ATTRIBUTE_ARCHIVE
};

// A symlink entry as a Unix RAR would store it.
RarEntry RarSymlink(std::string name, std::string target);

// The bytes of a RAR 4.x archive holding `entries` in order: marker block,
// main header, one file header plus data per entry, end block.
std::string MakeRar4(const std::vector<RarEntry>& entries);

// MakeRar4 written to `path`.
void WriteRar4(const std::string& path, const std::vector<RarEntry>& entries);

// CRC-32 (the zlib polynomial), as RAR uses it for headers and data.
std::uint32_t Crc32(std::string_view bytes);

}  // namespace fakes
