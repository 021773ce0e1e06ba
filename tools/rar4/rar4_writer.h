#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// Writes RAR 4.x archives of stored (not compressed) entries, as the
// sequencing product packs its `.msq` files: the demo builds its archive with
// it, and the tests build every archive they import or extract.
namespace rar4 {

// One entry of an archive.
struct Entry {
  std::string name;  // as stored: "\" or "/" separators, as the caller wants
  std::string data;
  bool directory = false;
  // Host OS 2 (Windows) reads `attributes` as DOS attributes; host OS 3
  // (Unix) reads them as st_mode, which lets a caller store a symlink
  // (0120777, data = target).
  std::uint8_t hostOs = 2;
  std::uint32_t attributes = 0x20;  // FILE_ATTRIBUTE_ARCHIVE
};

// The bytes of an archive holding `entries` in order: marker block, main
// header, one file header plus data per entry, end block. Throws
// std::length_error for an entry RAR 4 cannot hold (data of 4 GiB or more, a
// header past 64 KiB).
std::string MakeArchive(const std::vector<Entry>& entries);

}  // namespace rar4
