#include "shell/winrar_locator.h"

#include <filesystem>
#include <system_error>

#include "platform/paths.h"

namespace shell {

std::string RemoveQuotes(std::string_view text) {
  std::string result;
  result.reserve(text.size());
  for (const char c : text) {
    if (c != '"') result += c;
  }
  return result;
}

std::string WinRarPathFromCommand(std::string_view command) {
  const auto lastBlank = command.rfind(' ');
  if (lastBlank == std::string_view::npos) return RemoveQuotes(command);
  return RemoveQuotes(command.substr(0, lastBlank));
}

std::string LocateWinRarInRegistry(const RegistryTextReader& read) {
  const std::string command = read(kWinRarCommandKey, "");
  // A command that leaves no path once cut (such as "\"\" %1") is as good as
  // none: asking App Paths beats starting up with an empty program path.
  if (std::string path = WinRarPathFromCommand(command); !path.empty()) return path;
  return RemoveQuotes(read(kWinRarAppPathKey, ""));
}

std::string LocateExtractorBeside(const std::string& applicationDirectory) {
  namespace fs = std::filesystem;
  const std::string path = platform::ExtractorPath(applicationDirectory);
  std::error_code error;
  const fs::file_status status = fs::status(path, error);
  if (error || !fs::is_regular_file(status)) return {};
  const auto anyExecute = fs::perms::owner_exec | fs::perms::group_exec | fs::perms::others_exec;
  if ((status.permissions() & anyExecute) == fs::perms::none) return {};
  return path;
}

std::string LocateArchiver(const RegistryTextReader& read, const std::string& programsFolder) {
  if (std::string path = LocateWinRarInRegistry(read); !path.empty()) return path;
  return LocateExtractorBeside(programsFolder);
}

}  // namespace shell
