#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "tests/tools/glimmer_process.h"

namespace {

struct Case {
  std::vector<std::string> args;
  int exitCode;
  std::string inOut;  // a piece of standard output
  std::string inErr;  // a piece of standard error
};

TEST(GlimmerArguments, MistakesExitOneAndHelpExitsZero) {
  const std::vector<Case> cases = {
      {{}, 1, "", "Usage: glimmer COMMAND"},
      {{"fly"}, 1, "", "unknown command 'fly'"},
      {{"--help"},
       0,
       "The player's files (preferences.txt, playlist.txt, Cache, show.log) are in",
       ""},
      {{"--version"}, 0, "glimmer " GLIMMER_VERSION "\n", ""},
      {{"play"}, 1, "", "glimmer play: CACHE is required"},
      {{"play", "--port", "17", "a.csq", "a.wav"}, 1, "", "--port: needs a whole number from 1"},
      {{"play", "--port", "2", "--device", "/dev/null", "a", "b"}, 1, "", "excludes"},
      {{"play", "--baud", "9600", "a", "b"}, 1, "", "--baud"},
      {{"play", "a", "b", "c"}, 1, "", "not expected: c"},
      {{"play", "--help", "--port", "99"}, 0, "Usage: glimmer play", ""},
      {{"compile", "--bogus", "a", "b"}, 1, "", "--bogus"},
      {{"compile", "--audio"}, 1, "", "--audio"},
      {{"dump"}, 1, "", "Run 'glimmer dump --help'"},
      {{"dump", "-h"}, 0, "Usage: glimmer dump CACHE", ""},
      {{"monitor", "--baud", "fast", "/dev/null"}, 1, "", "--baud"},
      {{"check", "--baud", "9600", "a.csq"}, 1, "", "--baud"},
      {{"calendar", "--help"},
       0,
       "For each date the rule with the fewest dates wins among those whose dates and days contain "
       "it; on a tie the rule that names days, then the later one in the file.",
       ""},
  };
  // Help texts break their lines anywhere.
  const auto flat = [](std::string text) {
    std::replace(text.begin(), text.end(), '\n', ' ');
    return text;
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.args));
    fakes::TempDir dir;
    tools_test::GlimmerProcess glimmer(dir, c.args);
    ASSERT_TRUE(glimmer.Started());
    EXPECT_EQ(glimmer.Wait(), c.exitCode) << glimmer.Err();
    EXPECT_NE(flat(glimmer.Out()).find(flat(c.inOut)), std::string::npos) << glimmer.Out();
    EXPECT_NE(glimmer.Err().find(c.inErr), std::string::npos) << glimmer.Err();
  }
}

}  // namespace
