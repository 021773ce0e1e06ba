#include "platform/win/audio/com_support.h"

#include <cstdio>
#include <string_view>

#include "platform/win/wide_text.h"

namespace platform::win {

void UseMultithreadedApartment() {
  static const bool joined = [] {
    // Windows 8 keeps the apartment alive with one call; before it, a thread
    // that stays in the apartment for the rest of the process does.
    using Increment = HRESULT(WINAPI*)(void**);
    if (HMODULE ole = GetModuleHandleW(L"ole32.dll"); ole != nullptr) {
      if (const auto increment = reinterpret_cast<Increment>(
              reinterpret_cast<void*>(GetProcAddress(ole, "CoIncrementMTAUsage")))) {
        void* cookie = nullptr;
        if (SUCCEEDED(increment(&cookie))) return true;
      }
    }
    HANDLE joinedEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (joinedEvent == nullptr) return false;
    HANDLE keeper = CreateThread(
        nullptr, 0,
        [](void* event) -> DWORD {
          CoInitializeEx(nullptr, COINIT_MULTITHREADED);
          SetEvent(static_cast<HANDLE>(event));
          Sleep(INFINITE);
          return 0;
        },
        joinedEvent, 0, nullptr);
    if (keeper != nullptr) {
      WaitForSingleObject(joinedEvent, INFINITE);
      CloseHandle(keeper);
    }
    CloseHandle(joinedEvent);
    return keeper != nullptr;
  }();
  (void)joined;
}

std::string HresultText(HRESULT hr) {
  char code[16];
  std::snprintf(code, sizeof code, "0x%08lX", static_cast<unsigned long>(hr));
  const std::string words = SystemMessage(static_cast<std::uint32_t>(hr));
  // Codes the system has no text for (most of the audio ones) come back as a number.
  if (std::string_view(words).starts_with("system error ")) return std::string("error ") + code;
  return words + " (" + code + ")";
}

}  // namespace platform::win
