#pragma once

#include <string>

#include "platform/status.h"

namespace platform {

// The separator the program joins its own paths with ("\" on Windows).
#ifdef _WIN32
inline constexpr char kPathSeparator = '\\';
#else
inline constexpr char kPathSeparator = '/';
#endif

// The directory of the running executable, without a trailing separator.
std::string ApplicationDirectory();

// The folders one copy of the program works with, without trailing
// separators.
struct ProgramFolders {
  // preferences.txt, playlist.txt, Cache, Temp and show.log.
  std::string data;
  // The folder that holds the archive extractor.
  std::string programs;
  // Whether this copy runs from where the package installed it.
  bool installed = false;
};

// The rule for a copy of the program in `programDirectory`. A copy is
// installed when that folder is a prefix's bin folder and the extractor sits
// in the prefix's libexec/glimmerfield folder, as the package puts them. An
// installed copy never writes below its prefix: its files live in the user's
// data folder, `xdgDataHome`/glimmerfield, or `home`/.local/share/glimmerfield
// when `xdgDataHome` is empty or not absolute (root included). Any other copy
// (a build tree, a copy on a USB stick) keeps its files and its extractor
// beside itself.
ProgramFolders ChooseProgramFolders(const std::string& programDirectory,
                                    const std::string& xdgDataHome, const std::string& home);

// The folders of this process: its executable's folder and its environment.
ProgramFolders CurrentProgramFolders();

// Creates the data folder if it is missing (the first start of an installed
// copy); fails with the folder and the reason.
Status MakeDataFolder(const std::string& folder);

}  // namespace platform
