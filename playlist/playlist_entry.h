#pragma once

#include <string>

namespace playlist {

// One playlist entry: five texts.
struct PlaylistEntry {
  std::string AudioPath;
  std::string CachePath;
  std::string ListText;
  std::string Version;
  std::string SourcePath;
};

// The version written into playlist.txt and each entry, and the oldest one
// the loader accepts. It names the file's format: it stays "0.94" whatever
// version the program itself has.
inline constexpr const char* kProgramVersion = "0.94";

}  // namespace playlist
