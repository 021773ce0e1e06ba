// A program for the process tests to start: it does one thing its first
// argument names, so each test can watch a launcher deal with it.
#include <windows.h>

#include <shellapi.h>

#include <string>

#include "platform/win/wide_text.h"
#include "platform/win/win_handle.h"
#include "platform/win/win_process.h"

namespace {

void Put(DWORD which, const std::string& text) {
  DWORD written = 0;
  ::WriteFile(::GetStdHandle(which), text.data(), static_cast<DWORD>(text.size()), &written,
              nullptr);
}

std::wstring Self() {
  wchar_t path[MAX_PATH];
  const DWORD n = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
  return std::wstring(path, n);
}

}  // namespace

int main() {
  int argc = 0;
  wchar_t** wide = ::CommandLineToArgvW(::GetCommandLineW(), &argc);
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) args.push_back(platform::win::Narrow(wide[i]));
  ::LocalFree(wide);
  const std::string what = args.empty() ? "" : args[0];

  if (what == "exit" && args.size() == 2) {
    Put(STD_OUTPUT_HANDLE, "out\n");
    Put(STD_ERROR_HANDLE, "err-" + args[1] + "\n");
    return std::stoi(args[1]);
  }
  if (what == "crash") {
    // The exit code of an access violation, without a crash dialog.
    ::ExitProcess(0xC0000005u);
  }
  if (what == "args") {
    for (std::size_t i = 1; i < args.size(); ++i) Put(STD_OUTPUT_HANDLE, "[" + args[i] + "]");
    return 0;
  }
  if (what == "stdin") {
    char byte = 0;
    DWORD got = 0;
    const BOOL read = ::ReadFile(::GetStdHandle(STD_INPUT_HANDLE), &byte, 1, &got, nullptr);
    Put(STD_OUTPUT_HANDLE, read && got == 1 ? "byte" : "nothing");
    return 0;
  }
  if (what == "hang" && args.size() == 2) {
    // Held until the process ends: an abandoned mutex tells the test it died.
    ::CreateMutexW(nullptr, TRUE, platform::win::Widen(args[1] + "-alive").c_str());
    HANDLE ready =
        ::OpenEventW(EVENT_MODIFY_STATE, FALSE, platform::win::Widen(args[1] + "-ready").c_str());
    if (ready != nullptr) ::SetEvent(ready);
    ::WaitForSingleObject(::GetCurrentProcess(), INFINITE);
    return 0;
  }
  if (what == "player" && args.size() == 2) {
    // A player running its archiver, as an import does.
    platform::win::WinProcessLauncher launcher;
    const auto ran = launcher.Run({platform::win::Narrow(Self()), "hang", args[1]});
    return ran ? ran.value() : 99;
  }
  Put(STD_ERROR_HANDLE, "test_child: unknown request\n");
  return 100;
}
