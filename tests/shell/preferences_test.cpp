#include <gtest/gtest.h>

#include <string>

#include "shell/preferences.h"
#include "shell/time_texts.h"
#include "tests/fakes/fake_file_store.h"
#include "tests/fakes/fake_user_interface.h"
#include "tests/shell/temp_dir.h"

namespace {

constexpr const char* kDefaultFile =
    "1\r\n115200\r\n5\r\n5:30:00 PM\r\n11:00:00 PM\r\n0\r\nc:\\\r\n";

shell::Preferences Defaults() {
  return {"1", "115200", "5", "5:30:00 PM", "11:00:00 PM", "0", "c:\\"};
}

TEST(PreferencesFormatTest, DefaultFileIsFortySevenBytes) {
  const std::string text = shell::FormatPreferences(Defaults());
  EXPECT_EQ(text, kDefaultFile);
  EXPECT_EQ(text.size(), 47u);
}

struct ParseCase {
  const char* name;
  std::string bytes;
  std::string port, autostart, folder;
};

class PreferencesLinesTest : public ::testing::TestWithParam<ParseCase> {};

TEST_P(PreferencesLinesTest, ReadsSevenLines) {
  const shell::Preferences p = shell::ParsePreferences(GetParam().bytes);
  EXPECT_EQ(p.port, GetParam().port);
  EXPECT_EQ(p.autostart, GetParam().autostart);
  EXPECT_EQ(p.lastImportFolder, GetParam().folder);
}

INSTANTIATE_TEST_SUITE_P(
    Files, PreferencesLinesTest,
    ::testing::Values(
        ParseCase{"CrLf", "4\r\n56000\r\n5\r\na\r\nb\r\n1\r\n/x\r\n", "4", "1", "/x"},
        ParseCase{"LfOnly", "4\n56000\n5\na\nb\n1\n/x\n", "4", "1", "/x"},
        ParseCase{"NoFinalLineEnd", "4\r\n56000\r\n5\r\na\r\nb\r\n1\r\n/x", "4", "1", "/x"},
        ParseCase{"EmptyLinesStayEmpty", "\r\n\r\n\r\n\r\n\r\n\r\n\r\n", "", "", ""},
        ParseCase{"Short", "4\r\n", "4", "", ""}, ParseCase{"Empty", "", "", "", ""},
        ParseCase{"ExtraLinesIgnored", "4\r\n\r\n\r\n\r\n\r\n0\r\n/x\r\nmore\r\n", "4", "0", "/x"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(PreferencesFileTest, WriteFailureIsToldOnceWithFileAndReason) {
  shelltest::TempDir dir;
  fakes::FakeFileStore files;
  fakes::FakeUserInterface ui;
  files.failWith = "Cannot write /p/preferences.txt: No space left on device";
  shell::PreferencesFile file(dir.File("preferences.txt"), files, ui);
  for (int i = 0; i < 3; ++i) file.Save(Defaults());
  ASSERT_EQ(ui.messages.size(), 1u);
  EXPECT_NE(ui.messages[0].find(dir.File("preferences.txt")), std::string::npos);
  EXPECT_NE(ui.messages[0].find("No space left on device"), std::string::npos);

  files.failWith.clear();
  file.Save(Defaults());
  EXPECT_EQ(shelltest::ReadFile(dir.File("preferences.txt")), kDefaultFile);
}

TEST(TimeTextsTest, QuarterHoursOnATwelveHourClock) {
  const auto times = shell::QuarterHourTimes();
  ASSERT_EQ(times.size(), 96u);
  EXPECT_EQ(times[0], "12:00:00 AM");
  EXPECT_EQ(times[4], "1:00:00 AM");
  EXPECT_EQ(times[48], "12:00:00 PM");
  EXPECT_EQ(times[95], "11:45:00 PM");
  EXPECT_EQ(shell::TimeOfDayText(86399), shell::kLastSecondOfDay);
}

}  // namespace
