#include "shell/preferences.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "tests/fakes/fake_file_store.h"
#include "tests/fakes/fake_user_interface.h"
#include "tests/fakes/special_files.h"
#include "tests/fakes/temp_dir.h"

namespace {

TEST(PreferencesTest, ReadsSevenLinesWhateverTheLineEnds) {
  const struct {
    const char* name;
    std::string bytes, port, autostart, folder;
  } cases[] = {{"CrLf", "4\r\n56000\r\n5\r\na\r\nb\r\n1\r\n/x\r\n", "4", "1", "/x"},
               {"LfOnly", "4\n56000\n5\na\nb\n1\n/x\n", "4", "1", "/x"},
               {"NoFinalLineEnd", "4\r\n56000\r\n5\r\na\r\nb\r\n1\r\n/x", "4", "1", "/x"},
               {"EmptyLinesStayEmpty", "\r\n\r\n\r\n\r\n\r\n\r\n\r\n", "", "", ""},
               {"Short", "4\r\n", "4", "", ""},
               {"ExtraLinesIgnored", "4\r\n\r\n\r\n\r\n\r\n0\r\n/x\r\nmore\r\n", "4", "0", "/x"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const shell::Preferences p = shell::ParsePreferences(c.bytes);
    EXPECT_EQ(p.port, c.port);
    EXPECT_EQ(p.autostart, c.autostart);
    EXPECT_EQ(p.lastImportFolder, c.folder);
  }
}

// A pipe would hold start-up waiting for a writer, a device may never end:
// the user hears that the file is not one, and the defaults are used.
TEST(PreferencesTest, FolderPipeOrDeviceIsReportedAndReadAsNoFile) {
  fakes::TempDir dir;
  const std::string path = dir.File("preferences.txt");
  fakes::FakeFileStore files;
  for (const fakes::SpecialFile& special : fakes::SpecialFiles()) {
    SCOPED_TRACE(special.name);
    std::filesystem::remove(path);
    special.make(path);
    fakes::FakeUserInterface ui;
    const shell::Preferences read = shell::PreferencesFile(path, files, ui).Read();
    EXPECT_EQ(read.port, "");
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_NE(ui.messages[0].find(path + " could not be read: " + special.reason),
              std::string::npos)
        << ui.messages[0];
  }
}

}  // namespace
