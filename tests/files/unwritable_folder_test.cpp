// An application folder that cannot be written, read-only or full: changes of
// the settings and of the playlist are refused with a message that names the
// file and the reason, and the files already there stay as they were.

#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <iterator>
#include <string>

#include "platform/posix/posix_file_store.h"
#include "playlist/playlist.h"
#include "shell/preferences.h"
#include "tests/fakes/fake_list_box.h"
#include "tests/fakes/fake_user_interface.h"
#include "tests/fakes/run_program.h"
#include "tests/fakes/temp_dir.h"

namespace {

TEST(UnwritableFolderTest, SettingsAndPlaylistChangesAreRefusedAndTheFilesStayIntact) {
  const std::string preferences = "3\r\n56000\r\n7\r\n5:30:00 PM\r\n11:00:00 PM\r\n0\r\n/shows\r\n";
  std::string playlistBytes = playlist::PlaylistHeader() + "\r\n";
  for (const std::string n : {"a", "b", "c"}) {
    playlistBytes += "/audio/" + n + ".mp3\r\n/app/Cache/" + n + ".csq\r\n" + n +
                     " - Band         (/shows/" + n + ".msq)\r\n/shows/" + n + ".msq\r\n0.94\r\n";
  }

  const struct {
    const char* name;
    const char* reason;  // as the system words it
    bool readOnly;
  } cases[] = {{"ReadOnly", "Permission denied", true}, {"Full", "File too large", false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    fakes::TempDir dir;
    const std::filesystem::path app = dir.path() / "app";
    std::filesystem::create_directory(app);
    const std::string prefsPath = (app / "preferences.txt").string();
    const std::string listPath = (app / "playlist.txt").string();
    fakes::WriteBytes(prefsPath, preferences);
    fakes::WriteBytes(listPath, playlistBytes);
    chmod(dir.path().c_str(), 0755);
    if (c.readOnly) chmod(app.c_str(), 0555);

    // In a child process, so that giving up root (permissions do not bind
    // root) and a file size limit (a full disk) stay out of the test program.
    // It says what went wrong, or nothing.
    const fakes::ChildRun run = fakes::RunInChild([&](std::string& p) {
      if (c.readOnly) {
        // Root writes anywhere; the operator's account does not.
        if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(3);
      } else {
        // Room for nothing bigger than a few bytes, as on a full disk.
        signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{16, 16};
        setrlimit(RLIMIT_FSIZE, &limit);
      }
      platform::PosixFileStore files;
      fakes::FakeUserInterface ui;
      const auto check = [&](bool ok, const std::string& what) { p += ok ? "" : what + "\n"; };
      const auto told = [&](std::size_t changes, const std::string& path) {
        check(ui.messages.size() == changes, "a message for each change of " + path);
        for (const auto& message : ui.messages) {
          check(message.find(path) != std::string::npos, "file named: " + message);
          check(message.find(c.reason) != std::string::npos, "reason given: " + message);
        }
      };

      // Two changes of a setting: told once, with the file and the reason.
      shell::PreferencesFile settings(prefsPath, files, ui);
      shell::Preferences changed = shell::ParsePreferences(preferences);
      changed.port = "4";
      settings.Save(changed);
      changed.frameTiming = "2";
      settings.Save(changed);
      told(1, prefsPath);

      // Moves and a removal: each told, and the list goes back.
      fakes::FakeListBox list;
      playlist::Playlist entries(list, ui, files, listPath);
      entries.LoadPlaylist();
      ui.messages.clear();
      list.Select(1);
      entries.cmdPlaylistMoveDown_Click();
      entries.cmdPlayListMoveUp_Click();
      entries.cmdPlaylistRemove_Click();
      told(3, listPath);
      check(list.items.size() == 3 && list.items[0].text.starts_with("a ") &&
                list.items[1].text.starts_with("b ") && list.items[2].text.starts_with("c "),
            "the list shows what the file holds");
      return 0;
    });
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.said, "");

    // Both files as they were, and no partial copies beside them.
    chmod(app.c_str(), 0755);
    EXPECT_EQ(fakes::ReadBytes(prefsPath), preferences);
    EXPECT_EQ(fakes::ReadBytes(listPath), playlistBytes);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(app), {}), 2);
  }
}

}  // namespace
