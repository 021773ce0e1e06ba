#include <windows.h>

#include <cwctype>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "platform/paths.h"
#include "platform/win/wide_text.h"

namespace platform {
namespace {

namespace fs = std::filesystem;

constexpr const char* kDataFolderName = "Glimmerfield";

std::string WithoutTrailingSeparator(std::string path) {
  while (path.size() > 3 && (path.back() == '\\' || path.back() == '/')) path.pop_back();
  return path;
}

// Folder names compare without regard to case or the separator used, as
// Windows compares them.
std::wstring Comparable(const std::string& path) {
  std::wstring wide = win::Widen(WithoutTrailingSeparator(path));
  for (wchar_t& c : wide) c = c == L'/' ? L'\\' : static_cast<wchar_t>(std::towlower(c));
  return wide;
}

bool IsWithin(const std::string& folder, const std::string& parent) {
  const std::wstring f = Comparable(folder);
  const std::wstring p = Comparable(parent);
  if (p.empty() || f.size() < p.size() || f.compare(0, p.size(), p) != 0) return false;
  return f.size() == p.size() || f[p.size()] == L'\\' || p.back() == L'\\';
}

std::string Environment(const wchar_t* name) {
  wchar_t value[32768];
  const DWORD length = GetEnvironmentVariableW(name, value, 32768);
  if (length == 0 || length >= 32768) return {};
  return win::Narrow(std::wstring_view(value, length));
}

}  // namespace

std::string ApplicationDirectory() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (n == 0) return ".";
    if (n < path.size()) {
      path.resize(n);
      break;
    }
    path.resize(path.size() * 2);
  }
  const auto slash = path.find_last_of(L"\\/");
  if (slash == std::wstring::npos) return ".";
  return WithoutTrailingSeparator(win::Narrow(path.substr(0, slash == 2 ? 3 : slash)));
}

ProgramFolders ChooseProgramFolders(const std::string& programDirectory,
                                    const std::vector<std::string>& programFilesFolders,
                                    const std::string& localAppData) {
  const std::string program = WithoutTrailingSeparator(programDirectory);
  for (const std::string& programFiles : programFilesFolders) {
    if (IsWithin(program, programFiles) && !localAppData.empty()) {
      return {InFolder(WithoutTrailingSeparator(localAppData), kDataFolderName), program, true};
    }
  }
  return {program, program, false};
}

ProgramFolders CurrentProgramFolders() {
  std::vector<std::string> programFiles;
  for (const wchar_t* name : {L"ProgramFiles", L"ProgramFiles(x86)", L"ProgramW6432"}) {
    if (std::string folder = Environment(name); !folder.empty()) programFiles.push_back(folder);
  }
  // Where an installer puts the programs of one user (Windows' own
  // "UserProgramFiles"); the user may write there, but the files still
  // belong in the data folder, which the uninstaller leaves alone.
  const std::string localAppData = Environment(L"LOCALAPPDATA");
  if (!localAppData.empty()) programFiles.push_back(InFolder(localAppData, "Programs"));
  return ChooseProgramFolders(ApplicationDirectory(), programFiles, localAppData);
}

Status MakeDataFolder(const std::string& folder) {
  std::error_code error;
  const fs::path path(win::Widen(folder));
  if (fs::is_directory(path, error)) return Status::Ok();
  fs::create_directories(path, error);
  if (error) {
    return Status::Error("The folder \"" + folder +
                         "\" for the player's files cannot be made: " + error.message() + ".");
  }
  return Status::Ok();
}

}  // namespace platform
