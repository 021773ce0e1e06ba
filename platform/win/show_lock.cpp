#include "platform/show_lock.h"

#include <windows.h>

#include <string>

#include "platform/paths.h"
#include "platform/win/wide_text.h"
#include "platform/win/win_handle.h"

namespace platform {
namespace {

using win::UniqueHandle;

// The lock covers one byte far past the holder's text: a Windows lock bars
// others from reading the range it covers, and they must read who holds it.
constexpr DWORD kLockOffsetHigh = 0x7fffffff;

class WinShowLock final : public ShowLock {
 public:
  explicit WinShowLock(UniqueHandle file) : file_(std::move(file)) {}

 private:
  UniqueHandle file_;  // closing it (or the process ending) releases the lock
};

std::string LockPath(const std::string& folder) {
  return InFolder(folder, kShowLockName);
}

bool TryLock(HANDLE file, DWORD flags) {
  OVERLAPPED at{};
  at.OffsetHigh = kLockOffsetHigh;
  return LockFileEx(file, flags | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at);
}

void Unlock(HANDLE file) {
  OVERLAPPED at{};
  at.OffsetHigh = kLockOffsetHigh;
  UnlockFileEx(file, 0, 1, 0, &at);
}

// "1234 glimmer show", as the holder wrote it.
std::string Holder(HANDLE file) {
  char text[256] = {};
  OVERLAPPED at{};
  DWORD got = 0;
  if (!ReadFile(file, text, sizeof text - 1, &got, &at)) got = 0;
  std::string holder(text, got);
  while (!holder.empty() &&
         (holder.back() == '\n' || holder.back() == '\r' || holder.back() == '\0')) {
    holder.pop_back();
  }
  return holder;
}

std::string BusyMessage(const std::string& folder, const std::string& holder) {
  const std::size_t blank = holder.find(' ');
  std::string who = "another process";
  if (!holder.empty()) {
    who = "process " + holder.substr(0, blank);
    if (blank != std::string::npos) who += " (" + holder.substr(blank + 1) + ")";
  }
  return "A show already runs on the folder " + folder + ": " + who + " holds " + LockPath(folder) +
         ".";
}

UniqueHandle OpenLockFile(const std::string& path, DWORD access, DWORD disposition) {
  return UniqueHandle(CreateFileW(win::Widen(path).c_str(), access,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  disposition, FILE_ATTRIBUTE_NORMAL, nullptr));
}

}  // namespace

Result<std::unique_ptr<ShowLock>> TakeShowLock(const std::string& folder, const std::string& who) {
  using R = Result<std::unique_ptr<ShowLock>>;
  const std::string path = LockPath(folder);
  UniqueHandle file = OpenLockFile(path, GENERIC_READ | GENERIC_WRITE, OPEN_ALWAYS);
  if (!file) return R::Error("Cannot open " + path + ": " + win::LastErrorMessage());
  if (!win::IsRegularFileHandle(file.get())) {
    return R::Error("Cannot open " + path + ": it is not a regular file");
  }
  if (!TryLock(file.get(), LOCKFILE_EXCLUSIVE_LOCK)) {
    if (GetLastError() == ERROR_LOCK_VIOLATION) {
      return R::Error(BusyMessage(folder, Holder(file.get())));
    }
    return R::Error("Cannot lock " + path + ": " + win::LastErrorMessage());
  }
  const std::string holder = std::to_string(GetCurrentProcessId()) + " " + who + "\n";
  if (SetFilePointer(file.get(), 0, nullptr, FILE_BEGIN) == 0 && SetEndOfFile(file.get())) {
    DWORD written = 0;
    WriteFile(file.get(), holder.data(), static_cast<DWORD>(holder.size()), &written, nullptr);
  }
  return R(std::unique_ptr<ShowLock>(new WinShowLock(std::move(file))));
}

std::optional<std::string> OtherShowOnFolder(const std::string& folder) {
  UniqueHandle file = OpenLockFile(LockPath(folder), GENERIC_READ, OPEN_EXISTING);
  if (!file) return std::nullopt;
  const std::string holder = Holder(file.get());
  if (holder.substr(0, holder.find(' ')) == std::to_string(GetCurrentProcessId())) {
    return std::nullopt;
  }
  if (TryLock(file.get(), 0)) {  // nobody holds it
    Unlock(file.get());
    return std::nullopt;
  }
  if (GetLastError() != ERROR_LOCK_VIOLATION) return std::nullopt;
  return BusyMessage(folder, holder);
}

}  // namespace platform
