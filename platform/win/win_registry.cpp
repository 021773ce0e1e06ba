#include "platform/win/win_registry.h"

#include <algorithm>
#include <charconv>
#include <cstring>

#include "platform/win/wide_text.h"
#include "platform/win/win_handle.h"

namespace platform::win {
namespace {

HKEY RootKey(RegistryHandle root) {
  // The predefined keys are sign-extended 32-bit constants.
  return reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(static_cast<LONG>(root)));
}

// The whole value, however long, or the error the registry gave.
LONG ReadStored(HKEY key, const std::wstring& name, DWORD& type,
                std::vector<std::uint8_t>& stored) {
  DWORD size = 0;
  LONG result = ::RegQueryValueExW(key, name.c_str(), nullptr, &type, nullptr, &size);
  // The value may grow between the two calls: ask again until it fits.
  while (result == ERROR_SUCCESS || result == ERROR_MORE_DATA) {
    stored.assign(size, 0);
    DWORD got = size;
    result = ::RegQueryValueExW(key, name.c_str(), nullptr, &type, stored.data(), &got);
    if (result == ERROR_SUCCESS) {
      stored.resize(got);
      return result;
    }
    size = got > size ? got : size + 256;
  }
  return result;
}

std::string AsUtf8(const std::vector<std::uint8_t>& stored) {
  std::wstring wide(stored.size() / sizeof(wchar_t), L'\0');
  if (!wide.empty()) std::memcpy(wide.data(), stored.data(), wide.size() * sizeof(wchar_t));
  return Narrow(wide);
}

}  // namespace

std::vector<std::uint8_t> AsNarrowValue(DWORD type, const std::vector<std::uint8_t>& stored) {
  if (type != REG_SZ && type != REG_EXPAND_SZ && type != REG_MULTI_SZ) return stored;
  std::string text = AsUtf8(stored);
  // Stored strings need not end in their zeros; "A" results always do.
  const std::size_t zeros = type == REG_MULTI_SZ ? 2 : 1;
  std::size_t present = 0;
  while (present < zeros && present < text.size() && text[text.size() - 1 - present] == '\0') {
    ++present;
  }
  if (type == REG_MULTI_SZ && text.size() == 1 && present == 1) present = 2;  // "" as one zero
  text.append(zeros - present, '\0');
  return std::vector<std::uint8_t>(text.begin(), text.end());
}

WinRegistry::~WinRegistry() {
  for (const auto& [handle, key] : open_) ::RegCloseKey(key);
}

long WinRegistry::OpenKey(RegistryHandle root, const std::string& keyName, RegistryHandle& key) {
  HKEY opened = nullptr;
  const LONG result = ::RegOpenKeyExW(RootKey(root), Widen(keyName).c_str(), 0, KEY_READ, &opened);
  if (result != ERROR_SUCCESS) return result;
  key = nextHandle_++;
  open_[key] = opened;
  return kErrorSuccess;
}

long WinRegistry::QueryValue(RegistryHandle key, const std::string& valueName, std::uint32_t& type,
                             std::vector<std::uint8_t>& buffer, std::uint32_t& length) {
  const auto it = open_.find(key);
  if (it == open_.end()) return ERROR_INVALID_HANDLE;
  DWORD storedType = REG_NONE;
  std::vector<std::uint8_t> stored;
  const LONG result = ReadStored(it->second, Widen(valueName), storedType, stored);
  if (result != ERROR_SUCCESS) return result;
  const std::vector<std::uint8_t> value = AsNarrowValue(storedType, stored);
  type = storedType;
  length = static_cast<std::uint32_t>(value.size());
  if (value.size() > buffer.size()) return kErrorMoreData;
  std::copy(value.begin(), value.end(), buffer.begin());
  return kErrorSuccess;
}

void WinRegistry::CloseKey(RegistryHandle key) {
  const auto it = open_.find(key);
  if (it == open_.end()) return;
  ::RegCloseKey(it->second);
  open_.erase(it);
}

std::vector<ListedSerialPort> ListedSerialPorts() {
  std::vector<ListedSerialPort> ports;
  HKEY key = nullptr;
  if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, &key) !=
      ERROR_SUCCESS) {
    return ports;
  }
  for (DWORD index = 0;; ++index) {
    wchar_t name[256];
    DWORD nameLength = 256;
    DWORD type = REG_NONE;
    BYTE data[512];
    DWORD dataSize = sizeof data;
    const LONG result =
        ::RegEnumValueW(key, index, name, &nameLength, nullptr, &type, data, &dataSize);
    if (result == ERROR_MORE_DATA) continue;  // not a port name anyone would use
    if (result != ERROR_SUCCESS) break;
    if (type != REG_SZ) continue;
    std::string port = AsUtf8(std::vector<std::uint8_t>(data, data + dataSize));
    while (!port.empty() && port.back() == '\0') port.pop_back();
    int number = 0;
    const char* digits = port.c_str() + 3;
    const char* end = port.c_str() + port.size();
    if (port.size() <= 3 || _strnicmp(port.c_str(), "COM", 3) != 0) continue;
    if (auto [last, ec] = std::from_chars(digits, end, number); ec != std::errc() || last != end) {
      continue;
    }
    ports.push_back({number, Narrow(std::wstring_view(name, nameLength))});
  }
  ::RegCloseKey(key);
  std::sort(ports.begin(), ports.end(),
            [](const auto& a, const auto& b) { return a.number < b.number; });
  return ports;
}

}  // namespace platform::win
