// The preferences reader on any bytes: what it writes reads back as written.
// Writing blanks control characters and a value too long to keep reads as
// its default, so the property holds from the first write on.
#include <cstdint>
#include <cstdlib>
#include <string_view>
#include <tuple>

#include "shell/preferences.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto fields = [](const shell::Preferences& p) {
    return std::tie(p.port, p.dataRate, p.frameTiming, p.startTime, p.endTime, p.autostart,
                    p.lastImportFolder);
  };
  const shell::Preferences read =
      shell::ParsePreferences(std::string_view(reinterpret_cast<const char*>(data), size));
  const shell::Preferences written = shell::ParsePreferences(shell::FormatPreferences(read));
  const shell::Preferences again = shell::ParsePreferences(shell::FormatPreferences(written));
  if (fields(again) != fields(written)) std::abort();
  return 0;
}
