#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "tools/rar4/rar4_writer.h"

namespace fakes {

// One entry of a RAR 4.x archive, stored (not compressed).
using RarEntry = rar4::Entry;

// A symlink entry as a Unix RAR would store it.
RarEntry RarSymlink(std::string name, std::string target);

// The bytes of a RAR 4.x archive holding `entries` in order.
inline std::string MakeRar4(const std::vector<RarEntry>& entries) {
  return rar4::MakeArchive(entries);
}

// MakeRar4 written to `path`.
void WriteRar4(const std::string& path, const std::vector<RarEntry>& entries);

}  // namespace fakes
