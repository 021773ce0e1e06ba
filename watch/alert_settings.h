#pragma once

#include <string>
#include <string_view>

#include "platform/status.h"

namespace watch {

inline constexpr const char* kSettingsFileName = "settings.toml";

// The [alerts] table of settings.toml: the program that is told about the
// show's troubles. Empty: nobody is told (the log still has it all).
struct AlertSettings {
  std::string command;
};

// Reads the [alerts] table out of the file's text; other tables are left to
// their readers. An error names the file, the line and what is wrong.
platform::Result<AlertSettings> ParseAlertSettings(std::string_view text,
                                                   std::string_view fileName);

// The same from the file; a file that is not there means no alerts.
platform::Result<AlertSettings> ReadAlertSettings(const std::string& path);

}  // namespace watch
