#pragma once

#include <windows.h>

#include <string>
#include <string_view>

namespace platform::win {

// UTF-8 inside, UTF-16 at the system's edge. Bytes that are not UTF-8 become
// U+FFFD rather than cutting the text short.
std::wstring Widen(std::string_view text);
std::string Narrow(std::wstring_view text);

// The system's own sentence for an error code, without the trailing line
// break, followed by its number: "Access is denied. (error 5)".
std::string SystemErrorText(DWORD error);

// Closes a kernel handle when it goes out of scope. Both null and
// INVALID_HANDLE_VALUE mean "none", as the API returns either.
class UniqueHandle {
 public:
  UniqueHandle() = default;
  explicit UniqueHandle(HANDLE handle) : handle_(handle) {}
  ~UniqueHandle() { Reset(); }
  UniqueHandle(UniqueHandle&& other) noexcept : handle_(other.Release()) {}
  UniqueHandle& operator=(UniqueHandle&& other) noexcept {
    if (this != &other) Reset(other.Release());
    return *this;
  }
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;

  HANDLE get() const { return handle_; }
  bool valid() const { return handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE; }
  explicit operator bool() const { return valid(); }
  HANDLE Release() {
    HANDLE h = handle_;
    handle_ = nullptr;
    return h;
  }
  void Reset(HANDLE handle = nullptr) {
    if (valid()) ::CloseHandle(handle_);
    handle_ = handle;
  }

 private:
  HANDLE handle_ = nullptr;
};

}  // namespace platform::win
