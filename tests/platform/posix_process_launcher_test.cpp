#include "platform/posix/posix_process_launcher.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/fakes/script_file.h"
#include "tests/fakes/temp_dir.h"

namespace {

TEST(PosixProcessLauncher, ReturnsTheExitCode) {
  fakes::TempDir dir;
  const std::string exit42 = dir.File("exit42");
  fakes::WriteScript(exit42, "exit 42");

  struct Case {
    std::vector<std::string> argv;
    int code;
  };
  const Case cases[] = {{{"/bin/true"}, 0}, {{"/bin/false"}, 1}, {{exit42}, 42}, {{"true"}, 0}};
  platform::PosixProcessLauncher launcher;
  for (const auto& c : cases) {
    const auto result = launcher.Run(c.argv);
    ASSERT_TRUE(result.ok()) << c.argv[0] << ": " << result.message();
    EXPECT_EQ(result.value(), c.code) << c.argv[0];
  }
}

TEST(PosixProcessLauncher, PassesArgumentsVerbatimWithoutAShell) {
  fakes::TempDir dir;
  const std::string reporter = dir.File("report");
  const std::string out = dir.File("out.txt");
  fakes::WriteArgumentReporter(reporter, 0);

  platform::PosixProcessLauncher launcher;
  const auto result =
      launcher.Run({reporter, out, "a b", "", "\"q\"", "C:\\App\\Temp\\", "$HOME", "*"});
  ASSERT_TRUE(result.ok()) << result.message();
  EXPECT_EQ(fakes::ReadBytes(out), "[a b]\n[]\n[\"q\"]\n[C:\\App\\Temp\\]\n[$HOME]\n[*]\n");
}

TEST(PosixProcessLauncher, ProgramThatCannotStartIsAnErrorNamingIt) {
  fakes::TempDir dir;
  const std::string notExecutable = dir.File("plain.txt");
  fakes::WriteBytes(notExecutable, "not a program");

  platform::PosixProcessLauncher launcher;
  for (const std::string& program :
       {dir.File("missing"), notExecutable, std::string("glimmer-no-such-program")}) {
    const auto result = launcher.Run({program, "x"});
    ASSERT_FALSE(result.ok()) << program;
    EXPECT_NE(result.message().find(program), std::string::npos) << result.message();
  }
  EXPECT_FALSE(launcher.Run({}).ok());
}

TEST(PosixProcessLauncher, DeathBySignalIsAnErrorNamingTheSignal) {
  fakes::TempDir dir;
  const std::string killer = dir.File("killself");
  fakes::WriteScript(killer, "kill -KILL $$");

  platform::PosixProcessLauncher launcher;
  const auto result = launcher.Run({killer});
  ASSERT_FALSE(result.ok());
  EXPECT_NE(result.message().find(killer), std::string::npos) << result.message();
  EXPECT_NE(result.message().find("signal 9"), std::string::npos) << result.message();
}

}  // namespace
