#include "shell/preferences.h"

#include <array>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>
#include <utility>
#include <vector>

#include "shell/setting_choices.h"

namespace shell {

namespace {

// A settings file is seven short lines; a larger one is not ours.
constexpr std::uintmax_t kLargestPreferencesFile = 1024 * 1024;

// Seven short values; the longest, a folder, is a path. A line of 500 MB
// used to be read whole and rewritten on every save.
constexpr std::size_t kMaxValueBytes = 4096;

}  // namespace

Preferences SelectedChoices(const Preferences& saved) {
  Preferences chosen = saved;
  chosen.port = PortChoices().Chosen(saved.port);
  chosen.dataRate = DataRateChoices().Chosen(saved.dataRate);
  chosen.frameTiming = FrameTimingChoices().Chosen(saved.frameTiming);
  chosen.startTime = StartTimeChoices().Chosen(saved.startTime);
  chosen.endTime = EndTimeChoices().Chosen(saved.endTime);
  return chosen;
}

std::string FormatPreferences(const Preferences& p) {
  std::string text;
  for (const std::string* value : {&p.port, &p.dataRate, &p.frameTiming, &p.startTime, &p.endTime,
                                   &p.autostart, &p.lastImportFolder}) {
    // One value per line: a line break in one would shift the rest.
    std::string line = value->size() > kMaxValueBytes ? std::string() : *value;
    for (char& c : line) {
      if (c == '\r' || c == '\n') c = ' ';
    }
    text += line;
    text += "\r\n";
  }
  return text;
}

Preferences ParsePreferences(std::string_view bytes) {
  Preferences p;
  const std::array<std::string*, 7> values = {
      &p.port,    &p.dataRate,  &p.frameTiming,     &p.startTime,
      &p.endTime, &p.autostart, &p.lastImportFolder};
  const std::vector<std::string> lines = platform::SplitTextLines(bytes);
  for (std::size_t i = 0; i < values.size() && i < lines.size(); ++i) {
    // Longer than any value the program writes: its default stands instead.
    *values[i] = lines[i].size() > kMaxValueBytes ? std::string() : lines[i];
  }
  return p;
}

PreferencesFile::PreferencesFile(std::string path, platform::FileStore& files,
                                 platform::UserInterface& ui)
    : path_(std::move(path)), files_(files), ui_(ui) {}

Preferences PreferencesFile::Read() {
  if (platform::KindOfPath(path_) == platform::FileKind::Missing) return {};
  platform::Result<std::string> read = files_.ReadWholeFile(path_, kLargestPreferencesFile);
  if (!read) {
    ui_.ShowMessage("The settings file " + path_ + " could not be read: " + read.message() +
                    ".\r\nThe default settings are used.");
    return {};
  }
  return ParsePreferences(read.value());
}

void PreferencesFile::Save(const Preferences& preferences) {
  const platform::Status written = files_.ReplaceFile(path_, FormatPreferences(preferences));
  if (!written.ok() && onRefusedWrite_) onRefusedWrite_(written.message());
  if (written.ok() || toldWriteFailure_) return;
  toldWriteFailure_ = true;
  ui_.ShowMessage("The settings could not be saved to " + path_ + ".\r\n" + written.message() +
                  "\r\nThe player goes on, but changed settings will not be remembered after it "
                  "closes. This message is not shown again until the player is restarted.");
}

}  // namespace shell
