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

inline constexpr const char* kProgramVersion = "0.94";

}  // namespace playlist
