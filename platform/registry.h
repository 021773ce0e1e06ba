#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace platform {

using RegistryHandle = std::uint32_t;
inline constexpr RegistryHandle kHkeyLocalMachine = 0x80000002u;

// Result codes as the Windows registry reports them.
inline constexpr long kErrorSuccess = 0;
inline constexpr long kErrorFileNotFound = 2;
inline constexpr long kErrorMoreData = 234;

// Value types.
inline constexpr std::uint32_t kRegNone = 0;
inline constexpr std::uint32_t kRegSz = 1;
inline constexpr std::uint32_t kRegExpandSz = 2;
inline constexpr std::uint32_t kRegBinary = 3;
inline constexpr std::uint32_t kRegDword = 4;
inline constexpr std::uint32_t kRegMultiSz = 7;

// Read-only registry access. Lifecycle: OpenKey, any number of QueryValue,
// CloseKey.
class Registry {
 public:
  virtual ~Registry() = default;
  // Opens `keyName` below the root `root` for reading. Returns kErrorSuccess
  // and sets `key`, or an error code.
  virtual long OpenKey(RegistryHandle root, const std::string& keyName, RegistryHandle& key) = 0;
  // Reads value `valueName` ("" is the key's default value) into `buffer`,
  // whose size is the capacity. Sets `type` and `length` (bytes the value
  // has). When the value does not fit, returns kErrorMoreData with `length`
  // set and the buffer untouched.
  virtual long QueryValue(RegistryHandle key, const std::string& valueName, std::uint32_t& type,
                          std::vector<std::uint8_t>& buffer, std::uint32_t& length) = 0;
  virtual void CloseKey(RegistryHandle key) = 0;
};

}  // namespace platform
