#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "platform/registry.h"

namespace platform {

// Reads HKEY_LOCAL_MACHINE from Wine's text file system.reg, which is where
// Windows programs installed under Wine (Spectrum, WinRAR) leave their keys.
// The file is read once, when the object is made; a missing or unreadable
// file is an empty registry. Key and value names are compared without regard
// to case, as Windows does (ASCII letters only).
//
// Values appear as the "A" functions of Windows return them: strings in the
// program's 8-bit character set (UTF-8 here) with their terminating zeros,
// whether the file writes them as "text", str(N):"text" or as UTF-16 hex.
class WineRegistry final : public Registry {
 public:
  explicit WineRegistry(const std::string& systemRegPath);

  long OpenKey(RegistryHandle root, const std::string& keyName, RegistryHandle& key) override;
  long QueryValue(RegistryHandle key, const std::string& valueName, std::uint32_t& type,
                  std::vector<std::uint8_t>& buffer, std::uint32_t& length) override;
  void CloseKey(RegistryHandle key) override;

  // $WINEPREFIX/system.reg, else $HOME/.wine/system.reg (null or empty
  // arguments are taken as unset). Empty when neither is known.
  static std::string DefaultPath(const char* winePrefix, const char* home);

 private:
  struct Value {
    std::uint32_t type = 0;
    std::vector<std::uint8_t> bytes;
  };
  using Values = std::map<std::string, Value>;  // by lower-case name

  void Parse(const std::string& text);

  std::map<std::string, Values> keys_;  // by lower-case path, single "\" separators
  std::map<RegistryHandle, const Values*> open_;
  RegistryHandle nextHandle_ = 1;
};

}  // namespace platform
