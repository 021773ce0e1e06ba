#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace shell {

inline constexpr const char* kWinRarCommandKey =
    "SOFTWARE\\Classes\\Applications\\WinRAR.exe\\shell\\open\\command";
inline constexpr const char* kWinRarAppPathKey =
    "Software\\Microsoft\\Windows\\CurrentVersion\\AppPaths\\WinRAR.exe";

// Reads one registry value of HKEY_LOCAL_MACHINE as text ("" when missing).
using RegistryTextReader =
    std::function<std::string(const std::string& keyName, const std::string& valueName)>;

// Answers "where is the archiver?": its full path, or "" when there is none.
// Windows asks the registry; Linux looks for the extractor beside the player.
using WinRarLocator = std::function<std::string(const RegistryTextReader& read)>;

// The registry's open command, "\"C:\...\WinRAR.exe\" \"%1\"", cut before its
// last blank with every double quote removed. A command without any blank is
// kept whole (without quotes): it can only be a bare program path.
std::string WinRarPathFromCommand(std::string_view command);

// Every double quote removed; blanks stay.
std::string RemoveQuotes(std::string_view text);

// The shell's open command first, then the App Paths entry (also when the
// command yields no path at all).
std::string LocateWinRarInRegistry(const RegistryTextReader& read);

// The extractor program beside the player when it is there and executable.
std::string LocateExtractorBeside(const std::string& applicationDirectory);

// Windows: an installed WinRAR as the registry names it, else our extractor
// in `programsFolder`, which reads the same command line.
std::string LocateArchiver(const RegistryTextReader& read, const std::string& programsFolder);

}  // namespace shell
