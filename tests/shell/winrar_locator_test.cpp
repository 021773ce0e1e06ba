#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "shell/winrar_locator.h"
#include "tests/shell/temp_dir.h"

namespace {

struct CommandCase {
  std::string command;
  std::string path;
};

class CommandTextTest : public ::testing::TestWithParam<CommandCase> {};

TEST_P(CommandTextTest, CutsBeforeTheLastBlankAndDropsQuotes) {
  EXPECT_EQ(shell::WinRarPathFromCommand(GetParam().command), GetParam().path);
}

INSTANTIATE_TEST_SUITE_P(
    Commands, CommandTextTest,
    ::testing::Values(CommandCase{"\"C:\\Program Files\\WinRAR\\WinRAR.exe\" \"%1\"",
                                  "C:\\Program Files\\WinRAR\\WinRAR.exe"},
                      CommandCase{"C:\\Program Files\\WinRAR\\WinRAR.exe", "C:\\Program"},
                      CommandCase{"\"C:\\WinRAR\\WinRAR.exe\" x \"%1\"",
                                  "C:\\WinRAR\\WinRAR.exe x"},
                      // No blank at all: the whole text is the program, without quotes.
                      CommandCase{"\"C:\\WinRAR\\WinRAR.exe\"", "C:\\WinRAR\\WinRAR.exe"},
                      CommandCase{"C:\\WinRAR\\WinRAR.exe", "C:\\WinRAR\\WinRAR.exe"},
                      CommandCase{"\"C:\\WinRAR\\WinRAR.exe\" ", "C:\\WinRAR\\WinRAR.exe"},
                      CommandCase{"", ""}));

TEST(RemoveQuotesTest, KeepsBlanks) {
  EXPECT_EQ(shell::RemoveQuotes("\"C:\\My Tools\\WinRAR.exe\""), "C:\\My Tools\\WinRAR.exe");
  EXPECT_EQ(shell::RemoveQuotes("a\"\"b\""), "ab");
}

TEST(LocateExtractorBesideTest, NeedsAnExecutableFile) {
  namespace fs = std::filesystem;
  shelltest::TempDir dir;
  const std::string program = dir.File("glimmer-extract");
  EXPECT_EQ(shell::LocateExtractorBeside(dir.Path()), "");

  fs::create_directory(program);
  EXPECT_EQ(shell::LocateExtractorBeside(dir.Path()), "") << "a folder is no program";
  fs::remove(program);

  shelltest::WriteFile(program, "#!/bin/sh\n");
  fs::permissions(program, fs::perms::owner_read | fs::perms::owner_write);
  EXPECT_EQ(shell::LocateExtractorBeside(dir.Path()), "") << "not executable";

  fs::permissions(program, fs::perms::owner_exec, fs::perm_options::add);
  EXPECT_EQ(shell::LocateExtractorBeside(dir.Path()), program);
}

}  // namespace
