#include "shell/registry_value.h"

#include <cstddef>

namespace shell {
namespace {

constexpr std::size_t kFirstReadSize = 1024;

// Closes the key on every way out, including the unsupported-type error.
class OpenKey {
 public:
  OpenKey(platform::Registry& registry, platform::RegistryHandle key)
      : registry_(registry), key_(key) {}
  ~OpenKey() { registry_.CloseKey(key_); }
  OpenKey(const OpenKey&) = delete;
  OpenKey& operator=(const OpenKey&) = delete;

 private:
  platform::Registry& registry_;
  platform::RegistryHandle key_;
};

// The first `count` bytes as text; a value too short for its terminating
// zeros (length 0, or 1 for a multi-string) reads as the empty text.
std::string Text(const std::vector<std::uint8_t>& buffer, std::uint32_t length,
                 std::uint32_t zeros) {
  if (length < zeros) return {};
  const std::size_t count = length - zeros;
  return std::string(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(count));
}

}  // namespace

RegistryValue GetRegistryValue(platform::Registry& registry, platform::RegistryHandle root,
                               const std::string& keyName, const std::string& valueName,
                               const RegistryValue& defaultValue) {
  platform::RegistryHandle key = 0;
  if (registry.OpenKey(root, keyName, key) != platform::kErrorSuccess) return defaultValue;
  const OpenKey closer(registry, key);

  std::vector<std::uint8_t> buffer(kFirstReadSize, 0);
  std::uint32_t type = 0;
  std::uint32_t length = 0;
  long result = registry.QueryValue(key, valueName, type, buffer, length);
  if (result == platform::kErrorMoreData) {
    buffer.assign(length, 0);
    result = registry.QueryValue(key, valueName, type, buffer, length);
  }
  if (result != platform::kErrorSuccess) return defaultValue;
  // A registry that reports more bytes than it filled in must not make us
  // read past the buffer.
  if (length > buffer.size()) return defaultValue;

  switch (type) {
    case platform::kRegSz:
    case platform::kRegExpandSz:
      return Text(buffer, length, 1);
    case platform::kRegMultiSz:
      return Text(buffer, length, 2);
    case platform::kRegBinary:
      return std::vector<std::uint8_t>(buffer.begin(),
                                       buffer.begin() + static_cast<std::ptrdiff_t>(length));
    case platform::kRegDword: {
      // The buffer starts zero-filled, so a shorter value reads as its bytes
      // padded with zeros.
      if (buffer.size() < 4) buffer.resize(4, 0);
      const std::uint32_t bits = static_cast<std::uint32_t>(buffer[0]) |
                                 (static_cast<std::uint32_t>(buffer[1]) << 8) |
                                 (static_cast<std::uint32_t>(buffer[2]) << 16) |
                                 (static_cast<std::uint32_t>(buffer[3]) << 24);
      return static_cast<std::int32_t>(bits);
    }
    default:
      throw RegistryError(kErrorUnsupportedValueType, "Unsupported value type");
  }
}

std::string RegistryValueText(const RegistryValue& value) {
  if (const auto* text = std::get_if<std::string>(&value)) return *text;
  if (const auto* number = std::get_if<std::int32_t>(&value)) return std::to_string(*number);
  if (const auto* bytes = std::get_if<std::vector<std::uint8_t>>(&value)) {
    return std::string(bytes->begin(), bytes->end());
  }
  return {};
}

}  // namespace shell
