// The one-value-per-line files keep one value per line whatever they are
// given, and a value too long to be the program's own is not kept.
#include <gtest/gtest.h>

#include <string>

#include "shell/preferences.h"
#include "tests/fakes/fake_file_store.h"
#include "tests/fakes/fake_user_interface.h"
#include "tests/fakes/temp_dir.h"

namespace {

// A preferences line of 500 MB was read whole and rewritten on every save.
TEST(PreferencesFile, LongValuesAreDroppedAndLineBreaksNeverShiftLines) {
  fakes::TempDir dir;
  fakes::FakeFileStore files;
  fakes::FakeUserInterface ui;
  const std::string path = dir.File("preferences.txt");
  shell::PreferencesFile preferences(path, files, ui);

  fakes::WriteBytes(path, "3\r\n56000\r\n5\r\n5:30:00 PM\r\n11:00:00 PM\r\n1\r\n" +
                              std::string(100000, 'x') + "\r\n");
  const shell::Preferences read = preferences.Read();
  EXPECT_EQ(read.port, "3");
  EXPECT_EQ(read.autostart, "1");
  EXPECT_EQ(read.lastImportFolder, "");  // the default "c:\" takes its place

  shell::Preferences written = read;
  written.lastImportFolder = "/shows/a\r\nb/";
  written.startTime = std::string(10000, 'y');
  preferences.Save(written);
  const std::string file = fakes::ReadBytes(path);
  EXPECT_EQ(file, "3\r\n56000\r\n5\r\n\r\n11:00:00 PM\r\n1\r\n/shows/a  b/\r\n");
  EXPECT_EQ(preferences.Read().lastImportFolder, "/shows/a  b/");
}

}  // namespace
