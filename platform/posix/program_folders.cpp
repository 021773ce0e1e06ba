#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

#include "platform/paths.h"

namespace platform {
namespace {

namespace fs = std::filesystem;

// Where the install rules put the extractor, relative to the prefix.
#ifndef GLIMMER_LIBEXEC_SUBDIR
#define GLIMMER_LIBEXEC_SUBDIR "libexec/glimmerfield"
#endif

std::string HomeFolder() {
  if (const char* home = std::getenv("HOME"); home != nullptr && home[0] == '/') return home;
  // A service started without HOME still has an account.
  if (const passwd* account = getpwuid(geteuid());
      account != nullptr && account->pw_dir != nullptr) {
    return account->pw_dir;
  }
  return "/";
}

std::string WithoutTrailingSlash(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

}  // namespace

ProgramFolders ChooseProgramFolders(const std::string& programDirectory,
                                    const std::string& xdgDataHome, const std::string& home) {
  const fs::path program(WithoutTrailingSlash(programDirectory));
  if (program.filename() == "bin") {
    const fs::path libexec = program.parent_path() / GLIMMER_LIBEXEC_SUBDIR;
    std::error_code error;
    if (fs::is_regular_file(ExtractorPath(libexec.string()), error)) {
      const std::string base =
          !xdgDataHome.empty() && xdgDataHome[0] == '/'
              ? WithoutTrailingSlash(xdgDataHome)
              : WithoutTrailingSlash(home) + (home == "/" ? "" : "/") + ".local/share";
      return {base + "/glimmerfield", libexec.string(), true};
    }
  }
  return {program.string(), program.string(), false};
}

ProgramFolders CurrentProgramFolders() {
  const char* xdg = std::getenv("XDG_DATA_HOME");
  return ChooseProgramFolders(ApplicationDirectory(), xdg != nullptr ? xdg : "", HomeFolder());
}

Status MakeDataFolder(const std::string& folder) {
  std::error_code error;
  if (fs::is_directory(folder, error)) return Status::Ok();
  fs::create_directories(folder, error);
  if (error) {
    return Status::Error("The folder \"" + folder +
                         "\" for the player's files cannot be made: " + error.message() + ".");
  }
  return Status::Ok();
}

}  // namespace platform
