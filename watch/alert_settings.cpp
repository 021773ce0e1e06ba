#include "watch/alert_settings.h"

#include <toml++/toml.h>

#include "platform/file_store.h"

namespace watch {
namespace {

std::string Where(std::string_view fileName, const toml::source_region& at) {
  return std::string(fileName) + ", line " + std::to_string(at.begin.line);
}

}  // namespace

platform::Result<AlertSettings> ParseAlertSettings(std::string_view text,
                                                   std::string_view fileName) {
  using Out = platform::Result<AlertSettings>;
  toml::table root;
  try {
    root = toml::parse(text, fileName);
  } catch (const toml::parse_error& e) {
    return Out::Error(Where(fileName, e.source()) + ": " + std::string(e.description()));
  }
  AlertSettings settings;
  const toml::node* alerts = root.get("alerts");
  if (!alerts) return settings;
  const toml::table* table = alerts->as_table();
  if (!table) return Out::Error(Where(fileName, alerts->source()) + ": alerts must be a table");
  const toml::node* command = table->get("command");
  if (!command) return settings;
  const std::optional<std::string> value = command->value<std::string>();
  if (!value) {
    return Out::Error(Where(fileName, command->source()) +
                      ": alerts.command must be a text in quotes, the path of a program");
  }
  settings.command = *value;
  return settings;
}

platform::Result<AlertSettings> ReadAlertSettings(const std::string& path) {
  const platform::Result<std::string> text =
      platform::ReadOptionalFile(path, platform::kLargestSettingsFile);
  if (!text) return platform::Result<AlertSettings>::Error(text.message());
  return ParseAlertSettings(text.value(), path);
}

}  // namespace watch
