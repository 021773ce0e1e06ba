#include "watch/show_watchdog.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/paths.h"
#include "tests/fakes/fake_user_interface.h"
#include "tests/fakes/special_files.h"
#include "tests/fakes/temp_dir.h"

namespace {

struct Lines : platform::LogFile {
  platform::Status AppendLine(const std::string& line) override {
    lines.push_back(line);
    return platform::Status::Ok();
  }
  std::vector<std::string> lines;
};

struct NoSettings : playback::ShowSettingsSource {
  playback::ShowSettings CurrentSettings() const override { return {}; }
};

struct NoPlaylist : playback::PlaylistSource {
  int RowCount() const override { return 0; }
  playlist::PlaylistEntry EntryAt(int) const override { return {}; }
};

// The watch reads what show.log held before this run; a pipe there waited
// for a writer that never came, and glimmer show hung before its first line
// with Stop and SIGINT unanswered. It is refused at once, and said.
TEST(ShowWatchdog, SomethingOtherThanAFileAtShowLogIsRefusedNotWaitedOn) {
  for (const fakes::SpecialFile& special : fakes::SpecialFiles()) {
    SCOPED_TRACE(special.name);
    fakes::TempDir dir;
    const std::string path = platform::ShowLogPath(dir.path().string());
    special.make(path);
    Lines log;
    fakes::FakeUserInterface ui;
    NoSettings settings;
    NoPlaylist playlist;
    watch::ShowWatchdog watchdog({.dir = dir.path().string(),
                                  .device = {},
                                  .waitForDevices = std::chrono::seconds(0),
                                  .silent = true,
                                  .serviceManager = false,
                                  .notice = {},
                                  .calendar = nullptr},
                                 log, ui, settings, playlist);
    const std::string said =
        "The show log is not read: cannot read " + path + ": " + special.reason;
    bool found = false;
    for (const std::string& line : log.lines) found = found || line.find(said) != std::string::npos;
    EXPECT_TRUE(found) << ::testing::PrintToString(log.lines);
  }
}

}  // namespace
