// glimmer calendar as its users run it (the rule its help states: glimmer_arguments).
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tests/calendar/time_zone.h"
#include "tests/fakes/run_program.h"
#include "tests/fakes/temp_dir.h"
#include "tests/tools/glimmer_process.h"

namespace {

std::string Golden(const std::string& name) {
  return std::string(GLIMMER_GOLDEN_DIR) + "/calendar/" + name;
}

// The preview in New York, across the autumn change (set here, so the
// program inherits it).
TEST(CalendarCommandTest, JsonPreviewMatchesTheExpectedFileAndCheckSaysWhetherTheFileIsSound) {
  calendar_test::ScopedTimeZone zone("America/New_York");
  fakes::TempDir dir;
  const std::string file = dir.File("calendar.toml");
  const auto calendar = [&](std::vector<std::string> more) {
    more.insert(more.begin(), {tools_test::GlimmerProgram(), "calendar", "--dir", dir.path()});
    return fakes::RunProgram(more);
  };
  std::filesystem::copy_file(Golden("calendar.toml"), file);
  const auto preview = calendar({"--from", "2026-10-19", "--days", "24", "--json"});
  ASSERT_EQ(preview.exitCode, 0) << preview.err;
  EXPECT_EQ(preview.out, fakes::ReadBytes(Golden("new_york_autumn.json")));
  const auto sound = calendar({"--check"});
  ASSERT_EQ(sound.exitCode, 0) << sound.err;
  EXPECT_EQ(sound.out, file + " is sound: 4 rules, with a location for dusk and dawn\n");
  std::ofstream(file, std::ios::trunc)
      << "[[show]]\nstart = \"6:00 PM\"\nend = \"9:00 PM\"\nvolume = 120\n";
  const auto faulty = calendar({"--check"});
  EXPECT_EQ(faulty.exitCode, 1);
  EXPECT_EQ(faulty.err, "glimmer calendar: " + file +
                            " line 4: volume: 120 is not a whole percent from 0 to 100; "
                            "leave it out for 100\n");
  EXPECT_EQ(faulty.out, "");
  std::filesystem::remove(file);
  const auto missing = calendar({});
  EXPECT_EQ(missing.exitCode, 1);
  EXPECT_NE(missing.err.find("there is no " + file), std::string::npos);
  // A folder in the file's place is refused before it is opened.
  std::filesystem::create_directory(file);
  const auto folder = calendar({"--check"});
  EXPECT_EQ(folder.exitCode, 1);
  EXPECT_EQ(folder.err,
            "glimmer calendar: calendar.toml cannot be read: it is a folder, not a file\n");
}

}  // namespace
