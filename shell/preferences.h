#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <utility>

#include "platform/file_store.h"
#include "platform/user_interface.h"

namespace shell {

// The seven values of preferences.txt, in file order, each taken whole.
struct Preferences {
  std::string port;
  std::string dataRate;
  std::string frameTiming;
  std::string startTime;
  std::string endTime;
  std::string autostart;  // "1" while a show runs, else "0"
  std::string lastImportFolder;
};

// The values the window's five lists end up with for these saved values
// (shell/setting_choices.h); the autostart flag and the import folder are
// kept. The show without a window reads its settings through this.
Preferences SelectedChoices(const Preferences& saved);

// Seven lines, each ended by CR LF, nothing quoted.
std::string FormatPreferences(const Preferences& preferences);

// Reads up to seven lines; missing lines are empty texts. Lines may end in
// CR LF, LF or CR, so a file edited on Linux reads the same.
Preferences ParsePreferences(std::string_view bytes);

// preferences.txt in the program's folder.
class PreferencesFile {
 public:
  PreferencesFile(std::string path, platform::FileStore& files, platform::UserInterface& ui);

  // No file: every value empty. A file that exists but cannot be read is
  // reported to the user and read as no file.
  Preferences Read();

  // Replaces the file. When that fails the user hears it once, with the file
  // and the reason; later failures of this run stay quiet, since every list
  // change would otherwise raise the same box again.
  void Save(const Preferences& preferences);

  const std::string& Path() const { return path_; }

  // Hears every write that fails (the user hears only the first), with the
  // reason; the show log keeps them.
  void OnRefusedWrite(std::function<void(const std::string&)> listener) {
    onRefusedWrite_ = std::move(listener);
  }

 private:
  std::string path_;
  platform::FileStore& files_;
  platform::UserInterface& ui_;
  bool toldWriteFailure_ = false;
  std::function<void(const std::string&)> onRefusedWrite_;
};

}  // namespace shell
