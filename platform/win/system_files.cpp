// The factories of platform/system.h that this part of the Windows layer
// answers for: the file store, the wall and steady clocks of the watch, and
// whether a process is gone.
#include <windows.h>
#undef ReplaceFile

#include "platform/system.h"
#include "platform/win/win_file_store.h"

namespace platform {
namespace {

class SystemTimeSource final : public TimeSource {
 public:
  std::chrono::steady_clock::time_point Steady() override {
    return std::chrono::steady_clock::now();
  }
  std::chrono::system_clock::time_point Wall() override { return std::chrono::system_clock::now(); }
};

}  // namespace

bool ProcessIsGone(long pid) {
  HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, static_cast<DWORD>(pid));
  // No such process; access denied means one runs that is not ours.
  if (process == nullptr) return GetLastError() == ERROR_INVALID_PARAMETER;
  const bool ended = WaitForSingleObject(process, 0) == WAIT_OBJECT_0;
  CloseHandle(process);
  return ended;
}

std::unique_ptr<FileStore> MakeFileStore() {
  return std::make_unique<WinFileStore>();
}

std::unique_ptr<TimeSource> MakeTimeSource() {
  return std::make_unique<SystemTimeSource>();
}

}  // namespace platform
