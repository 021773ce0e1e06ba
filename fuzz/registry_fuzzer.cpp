// The Wine registry reader on any system.reg, queried for the keys the
// player looks up and a few of its shapes.
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "platform/posix/wine_registry.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string path = fuzz::InputFile("system.reg", data, size);
  platform::WineRegistry registry(path);
  static const char* const kKeys[] = {
      "SOFTWARE\\Classes\\Applications\\SpectrumSequencer.exe\\shell",
      "SOFTWARE\\Classes\\Applications\\SpectrumSequencer.exe\\shell\\open\\command",
      "SOFTWARE\\WinRAR",
      "Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\WinRAR.exe",
      "a",
      "A\\B",
      ""};
  static const char* const kValues[] = {"", "exe64", "Path", "a", "@"};
  for (const char* key : kKeys) {
    platform::RegistryHandle handle = 0;
    if (registry.OpenKey(platform::kHkeyLocalMachine, key, handle) != platform::kErrorSuccess) {
      continue;
    }
    for (const char* name : kValues) {
      std::uint32_t type = 0, length = 0;
      std::vector<std::uint8_t> small(4), large(1 << 16);
      (void)registry.QueryValue(handle, name, type, small, length);
      (void)registry.QueryValue(handle, name, type, large, length);
    }
    registry.CloseKey(handle);
  }
  return 0;
}
