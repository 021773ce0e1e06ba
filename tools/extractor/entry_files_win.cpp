// Windows has no descriptor-relative calls: paths are joined below the
// working directory (the destination) and handed to the wide calls, which
// never follow a link on the way to a rename or a removal of the link itself.
#include <windows.h>

#include <filesystem>
#include <string>
#include <vector>

#include "platform/win/wide_text.h"
#include "tools/extractor/entry_files.h"
#include "tools/extractor/extract.h"

namespace extractor {
namespace {

namespace fs = std::filesystem;

volatile LONG gStopRequested = 0;

BOOL WINAPI RequestStop(DWORD) {
  InterlockedExchange(&gStopRequested, 1);
  return TRUE;  // the copy ends by itself and removes its unfinished file
}

// A "/"-separated path below the working directory, for a wide call.
std::wstring Below(const std::string& folder, const std::string& name) {
  std::string path = folder.empty() ? name : folder + "/" + name;
  for (char& c : path) {
    if (c == '/') c = '\\';
  }
  return platform::win::Widen(path);
}

bool Exists(const std::wstring& path) {
  return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// Walks the folder (never into a link or junction) and removes what killed
// extractors left. Bounded in depth and count: a hostile tree left by an
// earlier archive must not make every later extraction slow.
void ClearBelow(const fs::path& folder, int depth, int& budget) {
  if (depth > 64) return;
  std::error_code ec;
  std::vector<fs::path> folders;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    if (--budget < 0) break;
    const DWORD attributes = GetFileAttributesW(it->path().c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_REPARSE_POINT))
      continue;
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
      folders.push_back(it->path());
    } else if (IsDeadRunsPartial(platform::win::Narrow(it->path().filename().wstring()))) {
      DeleteFileW(it->path().c_str());
    }
  }
  for (const fs::path& child : folders) ClearBelow(child, depth + 1, budget);
}

}  // namespace

long ThisProcessId() {
  return static_cast<long>(GetCurrentProcessId());
}

bool ProcessIsGone(long pid) {
  HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, static_cast<DWORD>(pid));
  if (process == nullptr) return GetLastError() == ERROR_INVALID_PARAMETER;
  const bool ended = WaitForSingleObject(process, 0) == WAIT_OBJECT_0;
  CloseHandle(process);
  return ended;
}

PartialFile PartialBeside(const std::string& entryPath) {
  PartialFile partial;
  const std::size_t slash = entryPath.rfind('/');
  partial.folder = slash == std::string::npos ? "" : entryPath.substr(0, slash);
  partial.target = slash == std::string::npos ? entryPath : entryPath.substr(slash + 1);
  partial.name = PartialNameOfThisRun();
  for (int n = 1; n < 1000 && Exists(Below(partial.folder, partial.name)); ++n) {
    partial.name = PartialNameOfThisRun() + "-" + std::to_string(n);
  }
  return partial;
}

std::error_code MovePartialIntoPlace(const PartialFile& partial) {
  if (!MoveFileExW(Below(partial.folder, partial.name).c_str(),
                   Below(partial.folder, partial.target).c_str(),
                   MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    return {static_cast<int>(GetLastError()), std::system_category()};
  }
  return {};
}

void RemovePartial(const PartialFile& partial) {
  DeleteFileW(Below(partial.folder, partial.name).c_str());
}

void RemoveWritten(const std::string& path) {
  DeleteFileW(Below("", path).c_str());
}

void ClearDeadRunsPartials() {
  int budget = 100000;
  ClearBelow(fs::path(L"."), 0, budget);
}

bool StopRequested() {
  return InterlockedCompareExchange(&gStopRequested, 0, 0) != 0;
}

// The player runs the extractor in a job object that ends with it; Ctrl+C
// and Ctrl+Break (and the console closing) stop the copy cleanly.
bool EndWithParent() {
  SetConsoleCtrlHandler(RequestStop, TRUE);
  return true;
}

}  // namespace extractor
