#include "platform/posix/posix_process_launcher.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/fakes/script_file.h"
#include "tests/fakes/temp_dir.h"

namespace {

// Of what a program said on its error output, the end is kept: past the
// limit, the words that matter come last.
TEST(PosixProcessLauncher, ReturnsTheExitCodePassesArgumentsVerbatimAndKeepsTheEndOfErrorOutput) {
  fakes::TempDir dir;
  const std::string reporter = dir.File("report");
  const std::string out = dir.File("out.txt");
  fakes::WriteArgumentReporter(reporter, 42);
  const std::string talker = dir.File("talker");
  fakes::WriteScript(talker,
                     "head -c 10000 /dev/zero | tr '\\0' x >&2; echo >&2; "
                     "echo 'entry a.wav does not match its CRC' >&2; exit 2");
  const struct {
    std::vector<std::string> argv;
    int code;
  } cases[] = {{{"/bin/true"}, 0},
               {{"/bin/false"}, 1},
               {{"true"}, 0},  // found on the PATH
               {{reporter, out, "a b", "", "\"q\"", "C:\\App\\Temp\\", "$HOME", "*"}, 42},
               {{talker}, 2}};
  platform::PosixProcessLauncher launcher;
  for (const auto& c : cases) {
    const auto result = launcher.Run(c.argv);
    ASSERT_TRUE(result.ok()) << c.argv[0] << ": " << result.message();
    EXPECT_EQ(result.value(), c.code) << c.argv[0];
  }
  EXPECT_EQ(fakes::ReadBytes(out), "[a b]\n[]\n[\"q\"]\n[C:\\App\\Temp\\]\n[$HOME]\n[*]\n");
  const std::string said = launcher.LastErrorOutput();
  EXPECT_LE(said.size(), 4096u);
  EXPECT_NE(said.find("xxxx\nentry a.wav does not match its CRC\n"), std::string::npos) << said;
  ASSERT_TRUE(launcher.Run({"/bin/true"}).ok());
  EXPECT_EQ(launcher.LastErrorOutput(), "");
}

TEST(PosixProcessLauncher, ProgramThatCannotStartOrDiesBySignalIsAnErrorNamingIt) {
  fakes::TempDir dir;
  const std::string notExecutable = dir.File("plain.txt");
  const std::string killer = dir.File("killself");
  fakes::WriteBytes(notExecutable, "not a program");
  fakes::WriteScript(killer, "kill -KILL $$");
  const struct {
    std::string program;
    const char* reason;
  } cases[] = {{dir.File("missing"), ""},
               {notExecutable, ""},
               {"glimmer-no-such-program", ""},
               {killer, "signal 9"}};
  platform::PosixProcessLauncher launcher;
  for (const auto& c : cases) {
    const auto result = launcher.Run({c.program, "x"});
    ASSERT_FALSE(result.ok()) << c.program;
    EXPECT_NE(result.message().find(c.program), std::string::npos) << result.message();
    EXPECT_NE(result.message().find(c.reason), std::string::npos) << result.message();
  }
  EXPECT_FALSE(launcher.Run({}).ok());
}

}  // namespace

// An archiver that never ends used to freeze the import for ever: the
// caller is asked while it runs, and its answer ends it.
TEST(PosixProcessLauncher, AWatchedProgramIsEndedWhenTheCallerStopsWaiting) {
  fakes::TempDir dir;
  const std::string quiet = dir.File("quiet");
  fakes::WriteScript(quiet, "exec 2>&-\nexec sleep 1000");
  const struct {
    const char* name;
    std::vector<std::string> argv;
  } cases[] = {{"ErrorOutputOpen", {"sleep", "1000"}}, {"ErrorOutputClosed", {quiet}}};
  platform::PosixProcessLauncher launcher;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    int asked = 0;
    const auto result = launcher.RunWatched(c.argv, [&] { return ++asked < 3; });
    ASSERT_FALSE(result.ok());
    EXPECT_NE(result.message().find("was stopped before it ended"), std::string::npos)
        << result.message();
    EXPECT_EQ(asked, 3);
  }
  // A program that ends by itself is not disturbed.
  int asked = 0;
  const auto done = launcher.RunWatched({"/bin/false"}, [&] { return ++asked > 0; });
  ASSERT_TRUE(done.ok()) << done.message();
  EXPECT_EQ(done.value(), 1);
}
