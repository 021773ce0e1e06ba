#pragma once

#include <filesystem>
#include <string>
#include <string_view>

// The program's paths are UTF-8 text. The C++ library on Windows reads a
// narrow string given to std::filesystem byte by byte, as Latin-1, so a song
// named "Köln.wav" would not be found: paths cross into std::filesystem and
// back through these two.
namespace platform {

inline std::filesystem::path FilePath(std::string_view utf8) {
#ifdef _WIN32
  return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
#else
  return std::filesystem::path(utf8);
#endif
}

inline std::string PathText(const std::filesystem::path& path) {
#ifdef _WIN32
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
#else
  return path.string();
#endif
}

}  // namespace platform
