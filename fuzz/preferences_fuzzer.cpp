// The preferences reader on any bytes: the values it reads are written and
// read back unchanged.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "shell/preferences.h"

namespace {

bool Same(const shell::Preferences& a, const shell::Preferences& b) {
  return a.port == b.port && a.dataRate == b.dataRate && a.frameTiming == b.frameTiming &&
         a.startTime == b.startTime && a.endTime == b.endTime && a.autostart == b.autostart &&
         a.lastImportFolder == b.lastImportFolder;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const shell::Preferences read =
      shell::ParsePreferences(std::string_view(reinterpret_cast<const char*>(data), size));
  if (!Same(shell::ParsePreferences(shell::FormatPreferences(read)), read)) std::abort();
  return 0;
}
