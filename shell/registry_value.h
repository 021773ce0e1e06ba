#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <variant>
#include <vector>

#include "platform/registry.h"

namespace shell {

// What GetRegistryValue returns: nothing (the empty value, which reads as the
// empty text), a text, a 32-bit integer or a byte array.
using RegistryValue =
    std::variant<std::monostate, std::string, std::int32_t, std::vector<std::uint8_t>>;

inline constexpr int kErrorUnsupportedValueType = 1001;

// A registry value exists but has a type GetRegistryValue does not convert.
class RegistryError : public std::runtime_error {
 public:
  RegistryError(int number, const std::string& description)
      : std::runtime_error(description), number_(number), description_(description) {}
  int Number() const { return number_; }
  const std::string& Description() const { return description_; }

 private:
  int number_;
  std::string description_;
};

// Reads `valueName` ("" for the default value) of `keyName` below `root`.
// Returns `defaultValue` when the key or the value cannot be read; throws
// RegistryError 1001 "Unsupported value type" for a type it does not convert.
// The key is always closed again.
RegistryValue GetRegistryValue(platform::Registry& registry, platform::RegistryHandle root,
                               const std::string& keyName, const std::string& valueName,
                               const RegistryValue& defaultValue = {});

// The value as text: texts as they are, the empty value as "", numbers in
// decimal, byte arrays byte for byte.
std::string RegistryValueText(const RegistryValue& value);

}  // namespace shell
