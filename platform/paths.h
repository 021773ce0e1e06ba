#pragma once

#include <string>
#include <vector>

#include "platform/status.h"

namespace platform {

// The separator the program joins its own paths with ("\" on Windows).
#ifdef _WIN32
inline constexpr char kPathSeparator = '\\';
#else
inline constexpr char kPathSeparator = '/';
#endif

// The names of the program's own files and programs. Only the functions
// below join them with a folder.
#ifdef _WIN32
inline constexpr const char* kExtractorName = "glimmer-extract.exe";
#else
inline constexpr const char* kExtractorName = "glimmer-extract";
#endif
inline constexpr const char* kPreferencesName = "preferences.txt";
inline constexpr const char* kPlaylistName = "playlist.txt";
inline constexpr const char* kShowLogName = "show.log";
inline constexpr const char* kCacheName = "Cache";
inline constexpr const char* kTempName = "Temp";
inline constexpr const char* kDosDevicesName = "dosdevices";

// `folder` joined with `name` by the program's separator.
inline std::string InFolder(const std::string& folder, const char* name) {
  return folder + kPathSeparator + name;
}
// The files and folders in the data folder (no trailing separator).
inline std::string PreferencesPath(const std::string& dataFolder) {
  return InFolder(dataFolder, kPreferencesName);
}
inline std::string PlaylistPath(const std::string& dataFolder) {
  return InFolder(dataFolder, kPlaylistName);
}
inline std::string ShowLogPath(const std::string& dataFolder) {
  return InFolder(dataFolder, kShowLogName);
}
inline std::string CacheFolder(const std::string& dataFolder) {
  return InFolder(dataFolder, kCacheName);
}
inline std::string TempFolder(const std::string& dataFolder) {
  return InFolder(dataFolder, kTempName);
}
// Where the operator pins COM port numbers to devices (dosdevices/comN).
inline std::string DosDevicesFolder(const std::string& dataFolder) {
  return InFolder(dataFolder, kDosDevicesName);
}
// The archive extractor in the programs folder.
inline std::string ExtractorPath(const std::string& programsFolder) {
  return InFolder(programsFolder, kExtractorName);
}

// The directory of the running executable, without a trailing separator.
std::string ApplicationDirectory();

// The folders one copy of the program works with, without trailing
// separators.
struct ProgramFolders {
  // preferences.txt, playlist.txt, Cache, Temp and show.log.
  std::string data;
  // The folder that holds the archive extractor.
  std::string programs;
  std::string Extractor() const { return ExtractorPath(programs); }
  // Whether this copy runs from where the package installed it.
  bool installed = false;
};

#ifdef _WIN32
// The rule for a copy of the program in `programDirectory` on Windows. A
// copy is installed when that folder lies in one of `programFilesFolders`
// (where the installer puts it and an ordinary user cannot write); its files
// then live in `localAppData`\Glimmerfield. Any other copy (a portable one
// on a USB stick, a build folder) keeps its files beside itself. The
// extractor is always beside the program.
ProgramFolders ChooseProgramFolders(const std::string& programDirectory,
                                    const std::vector<std::string>& programFilesFolders,
                                    const std::string& localAppData);
#else
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
#endif

// The folders of this process: its executable's folder and its environment.
ProgramFolders CurrentProgramFolders();

// Creates the data folder if it is missing (the first start of an installed
// copy); fails with the folder and the reason.
Status MakeDataFolder(const std::string& folder);

}  // namespace platform
