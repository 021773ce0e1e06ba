#pragma once

#include <string>
#include <string_view>

#include "platform/status.h"

namespace web {

inline constexpr const char* kSettingsFileName = "settings.toml";
inline constexpr const char* kLoopbackListen = "127.0.0.1:8080";
inline constexpr const char* kLanListen = "0.0.0.0:8080";

// The [web] table of settings.toml. The page is off unless the table is
// there; it then listens on the loopback address unless told otherwise.
struct WebSettings {
  bool enabled = false;
  std::string listen = kLoopbackListen;
  std::string token;  // empty: nothing may be changed from the page
};

// Reads the [web] table out of the file's text. An error names the file, the
// line and what is wrong. Other tables are no business of ours.
platform::Result<WebSettings> ParseWebSettings(std::string_view text, std::string_view fileName);

// The file's text with its [web] table holding `listen` and `token`; every
// other line, comments included, stays as it was. An error when the text is
// not TOML to begin with (it is not rewritten then).
platform::Result<std::string> WithWebTable(std::string_view text, std::string_view fileName,
                                           std::string_view listen, std::string_view token);

}  // namespace web
