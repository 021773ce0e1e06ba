#pragma once

#include <objbase.h>
#include <windows.h>

#include <string>
#include <utility>

namespace platform::win {

// Owns one reference to a COM object.
template <typename T>
class ComPtr {
 public:
  ComPtr() = default;
  ~ComPtr() { Reset(); }
  ComPtr(const ComPtr&) = delete;
  ComPtr& operator=(const ComPtr&) = delete;
  ComPtr(ComPtr&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
  ComPtr& operator=(ComPtr&& other) noexcept {
    if (this != &other) {
      Reset();
      p_ = std::exchange(other.p_, nullptr);
    }
    return *this;
  }

  T* operator->() const { return p_; }
  T* Get() const { return p_; }
  explicit operator bool() const { return p_ != nullptr; }
  // For the out-parameter of a call that hands over a new reference.
  T** Put() {
    Reset();
    return &p_;
  }
  void** PutVoid() { return reinterpret_cast<void**>(Put()); }
  void Reset() {
    if (p_ != nullptr) std::exchange(p_, nullptr)->Release();
  }

 private:
  T* p_ = nullptr;
};

// Puts every thread of the process in COM's multithreaded apartment, once:
// audio objects are made on the caller's thread and used from the decoder
// and render threads, and none of those threads has to join and leave COM
// itself (leaving it on the wrong thread would tear the objects down).
void UseMultithreadedApartment();

// Windows' own text for a COM result with its code, so an unknown one can
// still be looked up: "... (0x8889000A)".
std::string HresultText(HRESULT hr);

}  // namespace platform::win
