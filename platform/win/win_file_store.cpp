#include "platform/win/win_file_store.h"

#include <windows.h>
// <windows.h> names ReplaceFileW so; the interface's method keeps its name.
#undef ReplaceFile

#include <atomic>
#include <string>

#include "platform/win/wide_text.h"
#include "platform/win/win_handle.h"

namespace platform {
namespace {

using win::UniqueHandle;
using win::Widen;

std::string SystemError(const std::string& what, const std::string& path, DWORD code) {
  return what + " " + path + ": " + win::SystemMessage(code);
}

// Each save of this process gets its own temporary, whichever thread saves.
std::string TemporaryName(const std::string& path) {
  static std::atomic<unsigned> counter{0};
  return path + ".tmp-" + std::to_string(GetCurrentProcessId()) + "-" +
         std::to_string(counter.fetch_add(1));
}

}  // namespace

Status WinFileStore::ReplaceFile(const std::string& path, std::string_view bytes) {
  const std::string temp = TemporaryName(path);
  const std::wstring wideTemp = Widen(temp);
  UniqueHandle file(CreateFileW(wideTemp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return Status::Error(SystemError("Cannot create a file beside", path, GetLastError()));

  auto fail = [&](const std::string& what) {
    const std::string message = SystemError(what, path, GetLastError());
    file.Reset();
    DeleteFileW(wideTemp.c_str());
    return Status::Error(message);
  };
  const char* data = bytes.data();
  std::size_t left = bytes.size();
  while (left > 0) {
    const DWORD chunk = left > (1u << 30) ? (1u << 30) : static_cast<DWORD>(left);
    DWORD written = 0;
    if (!WriteFile(file.get(), data, chunk, &written, nullptr) || written == 0) {
      return fail("Cannot write");
    }
    data += written;
    left -= written;
  }
  if (!FlushFileBuffers(file.get())) return fail("Cannot flush");
  file.Reset();
  if (!MoveFileExW(wideTemp.c_str(), Widen(path).c_str(),
                   MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    const std::string message = SystemError("Cannot replace", path, GetLastError());
    DeleteFileW(wideTemp.c_str());
    return Status::Error(message);
  }
  return Status::Ok();
}

Result<std::string> WinFileStore::ReadWholeFile(const std::string& path,
                                                std::uintmax_t limitBytes) {
  using R = Result<std::string>;
  const FileKind kind = KindOfPath(path);
  if (kind == FileKind::Missing) return R::Error("the file does not exist");
  if (const std::string reason = NotAFileReason(kind); !reason.empty()) return R::Error(reason);
  UniqueHandle file(CreateFileW(Widen(path).c_str(), GENERIC_READ,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return R::Error(win::LastErrorMessage());
  // Swapped in between the look and the open: still never read.
  if (!win::IsRegularFileHandle(file.get())) return R::Error("it is not a regular file");
  std::string bytes;
  char chunk[65536];
  for (;;) {
    DWORD got = 0;
    if (!ReadFile(file.get(), chunk, sizeof chunk, &got, nullptr)) {
      return R::Error(win::LastErrorMessage());
    }
    if (got == 0) break;
    bytes.append(chunk, got);
    if (bytes.size() > limitBytes) return R::Error(LargerThanMessage(limitBytes));
  }
  return bytes;
}

}  // namespace platform
