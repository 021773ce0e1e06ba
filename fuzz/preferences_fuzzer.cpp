// The preferences reader on any bytes: what it writes reads back as written.
// Writing blanks control characters and a value too long to keep reads as
// its default, so the property holds from the first write on.
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
  const shell::Preferences written = shell::ParsePreferences(shell::FormatPreferences(read));
  if (!Same(shell::ParsePreferences(shell::FormatPreferences(written)), written)) std::abort();
  return 0;
}
