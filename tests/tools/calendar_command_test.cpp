// glimmer calendar as its users run it: the preview against a committed
// expected file, and the check of a sound and a faulty calendar (the rule its
// help states: glimmer_arguments).
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "tests/calendar/time_zone.h"
#include "tests/fakes/temp_dir.h"
#include "tests/tools/glimmer_process.h"

namespace {

std::string Golden(const std::string& name) {
  return std::string(GLIMMER_GOLDEN_DIR) + "/calendar/" + name;
}

TEST(CalendarCommandTest, JsonPreviewMatchesTheExpectedFile) {
  // Set here, so the program inherits it: New York, across the autumn change.
  calendar_test::ScopedTimeZone zone("America/New_York");
  fakes::TempDir dir;
  std::filesystem::copy_file(Golden("calendar.toml"), dir.File("calendar.toml"));
  tools_test::GlimmerProcess glimmer(dir, {"calendar", "--dir", dir.path().string(), "--from",
                                           "2026-10-19", "--days", "24", "--json"});
  ASSERT_TRUE(glimmer.Started());
  ASSERT_EQ(glimmer.Wait(), 0) << glimmer.Err();
  EXPECT_EQ(glimmer.Out(), fakes::ReadBytes(Golden("new_york_autumn.json")));
}

TEST(CalendarCommandTest, CheckSaysWhetherTheFileIsSound) {
  fakes::TempDir dir;
  std::filesystem::copy_file(Golden("calendar.toml"), dir.File("calendar.toml"));
  {
    tools_test::GlimmerProcess glimmer(dir, {"calendar", "--dir", dir.path().string(), "--check"});
    ASSERT_EQ(glimmer.Wait(), 0) << glimmer.Err();
    EXPECT_EQ(glimmer.Out(), dir.File("calendar.toml") +
                                 " is sound: 4 rules, with a location for dusk and dawn\n");
  }
  std::ofstream(dir.File("calendar.toml"), std::ios::trunc)
      << "[[show]]\nstart = \"6:00 PM\"\nend = \"9:00 PM\"\nvolume = 120\n";
  {
    tools_test::GlimmerProcess glimmer(dir, {"calendar", "--dir", dir.path().string(), "--check"});
    EXPECT_EQ(glimmer.Wait(), 1);
    EXPECT_EQ(glimmer.Err(), "glimmer calendar: " + dir.File("calendar.toml") +
                                 " line 4: volume: 120 is not a whole percent from 0 to 100; "
                                 "leave it out for 100\n");
    EXPECT_EQ(glimmer.Out(), "");
  }
  std::filesystem::remove(dir.File("calendar.toml"));
  {
    tools_test::GlimmerProcess glimmer(dir, {"calendar", "--dir", dir.path().string()});
    EXPECT_EQ(glimmer.Wait(), 1);
    EXPECT_NE(glimmer.Err().find("there is no " + dir.File("calendar.toml")), std::string::npos);
  }
  // A folder in the file's place is refused before it is opened.
  std::filesystem::create_directory(dir.File("calendar.toml"));
  {
    tools_test::GlimmerProcess glimmer(dir, {"calendar", "--dir", dir.path().string(), "--check"});
    EXPECT_EQ(glimmer.Wait(), 1);
    EXPECT_EQ(glimmer.Err(),
              "glimmer calendar: calendar.toml cannot be read: it is a folder, not a file\n");
  }
}

}  // namespace
