#pragma once

#include <windows.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "platform/registry.h"

namespace platform::win {

// The machine's registry, read-only, through the wide calls. Values appear
// as the "A" functions return them, so that the start-up lookups read the
// same bytes on every platform: strings in UTF-8 with their terminating
// zeros (two for a multi-string), other types byte for byte. A value that
// does not fit the caller's buffer gives kErrorMoreData and the length it
// needs, in those UTF-8 bytes, with the buffer untouched.
class WinRegistry final : public Registry {
 public:
  WinRegistry() = default;
  ~WinRegistry() override;
  WinRegistry(const WinRegistry&) = delete;
  WinRegistry& operator=(const WinRegistry&) = delete;

  long OpenKey(RegistryHandle root, const std::string& keyName, RegistryHandle& key) override;
  long QueryValue(RegistryHandle key, const std::string& valueName, std::uint32_t& type,
                  std::vector<std::uint8_t>& buffer, std::uint32_t& length) override;
  void CloseKey(RegistryHandle key) override;

 private:
  // Handles given out are small numbers of ours: HKEYs do not fit the
  // interface's 32 bits on a 64-bit system.
  std::map<RegistryHandle, HKEY> open_;
  RegistryHandle nextHandle_ = 1;
};

// The value's bytes as the "A" functions give them: REG_SZ, REG_EXPAND_SZ
// and REG_MULTI_SZ (UTF-16 as stored) become UTF-8 with their terminators,
// also when the stored text lacks them; anything else is left as it is.
std::vector<std::uint8_t> AsNarrowValue(DWORD type, const std::vector<std::uint8_t>& stored);

struct ListedSerialPort {
  int number = 0;      // 3 for COM3
  std::string device;  // "\Device\Serial0", the driver's name for it
};
// The COM ports the system lists under HARDWARE\DEVICEMAP\SERIALCOMM, by
// number. Names that are not COMn (some drivers list others) are left out.
std::vector<ListedSerialPort> ListedSerialPorts();

}  // namespace platform::win
