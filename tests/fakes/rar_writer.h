#pragma once

#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "tools/rar4/rar4_writer.h"

namespace fakes {

using RarEntry = rar4::Entry;

// A symlink entry as a Unix RAR would store it.
inline RarEntry RarSymlink(std::string name, std::string target) {
  return RarEntry{std::move(name), std::move(target), false, 3, 0120777};
}

inline std::string MakeRar4(const std::vector<RarEntry>& entries) {
  return rar4::MakeArchive(entries);
}

inline void WriteRar4(const std::string& path, const std::vector<RarEntry>& entries) {
  const std::string bytes = MakeRar4(entries);
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!file) throw std::runtime_error("cannot write " + path);
}

}  // namespace fakes
