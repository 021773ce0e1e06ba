#include "import/exec_cmd.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "platform/posix/posix_process_launcher.h"
#include "tests/fakes/fake_process_launcher.h"
#include "tests/fakes/script_file.h"
#include "tests/fakes/temp_dir.h"

namespace {

using Args = std::vector<std::string>;

struct SplitCase {
  const char* name;
  std::string line;
  std::set<std::string> files;
  Args expected;
};

class SplitCommandLineTest : public ::testing::TestWithParam<SplitCase> {};

TEST_P(SplitCommandLineTest, SplitsAsWindowsStartsAProgram) {
  const auto& c = GetParam();
  const auto exists = [&](const std::string& p) { return c.files.count(p) > 0; };
  EXPECT_EQ(importer::SplitCommandLine(c.line, exists), c.expected);
}

const std::string kWinRar = "C:\\Program Files\\WinRAR\\WinRAR.exe";

INSTANTIATE_TEST_SUITE_P(
    Lines, SplitCommandLineTest,
    ::testing::Values(
        SplitCase{
            "ArchiverLine",
            "C:\\Tools\\WinRAR.exe X -o+ \"D:\\Shows\\Xmas.2024.msq\" \"C:\\App\\Temp\\\"",
            {"C:\\Tools\\WinRAR.exe"},
            {"C:\\Tools\\WinRAR.exe", "X", "-o+", "D:\\Shows\\Xmas.2024.msq", "C:\\App\\Temp\\"}},
        SplitCase{"UnquotedProgramWithBlanks",
                  kWinRar + " X -o+ \"D:\\My Shows\\a b.msq\" \"C:\\App\\Temp\\\"",
                  {kWinRar},
                  {kWinRar, "X", "-o+", "D:\\My Shows\\a b.msq", "C:\\App\\Temp\\"}},
        SplitCase{"ShorterPrefixThatExistsWins",
                  kWinRar + " X",
                  {"C:\\Program", kWinRar},
                  {"C:\\Program", "Files\\WinRAR\\WinRAR.exe", "X"}},
        SplitCase{"NoPrefixExistsTakesTheFirstWord",
                  kWinRar + " X",
                  {},
                  {"C:\\Program", "Files\\WinRAR\\WinRAR.exe", "X"}},
        SplitCase{"WholeLineIsTheProgram", kWinRar, {kWinRar}, {kWinRar}},
        SplitCase{"QuotedProgram",
                  "\"C:\\Program Files\\x.exe\" a \"b c\"",
                  {},
                  {"C:\\Program Files\\x.exe", "a", "b c"}},
        SplitCase{"PosixPaths",
                  "/opt/glimmer field/glimmer-extract X -o+ \"/srv/a b.msq\" \"/app/Temp/\"",
                  {"/opt/glimmer field/glimmer-extract"},
                  {"/opt/glimmer field/glimmer-extract", "X", "-o+", "/srv/a b.msq", "/app/Temp/"}},
        SplitCase{"BlanksAndTabsBetweenArguments", "  prog \t a   b\t", {}, {"prog", "a", "b"}},
        SplitCase{"EmptyQuotedArgument", "prog \"\" x", {}, {"prog", "", "x"}},
        SplitCase{"QuotesInsideAWord", "prog a\"b c\"d", {}, {"prog", "ab cd"}},
        SplitCase{"UnclosedQuoteRunsToTheEnd", "prog \"a b", {}, {"prog", "a b"}},
        SplitCase{
            "BackslashBeforeQuoteIsLiteral", "prog \"C:\\x\\\" y", {}, {"prog", "C:\\x\\", "y"}},
        SplitCase{"Empty", "", {}, {}}, SplitCase{"OnlyBlanks", " \t ", {}, {}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(SplitCommandLine, TriesPrefixesFromTheShortestOn) {
  std::vector<std::string> tried;
  const auto exists = [&](const std::string& p) {
    tried.push_back(p);
    return p == kWinRar;
  };
  importer::SplitCommandLine(kWinRar + " X -o+", exists);
  EXPECT_EQ(tried, (Args{"C:\\Program", kWinRar}));
}

TEST(ExecCmd, HandsTheSplitLineToTheLauncher) {
  fakes::FakeProcessLauncher launcher;
  launcher.exitCode = 7;
  const auto result = importer::ExecCmd("prog X \"a b\"", launcher, [](auto&) { return false; });
  ASSERT_TRUE(result.ok());
  EXPECT_EQ(result.value(), 7);
  ASSERT_EQ(launcher.runs.size(), 1u);
  EXPECT_EQ(launcher.runs[0], (Args{"prog", "X", "a b"}));
}

TEST(ExecCmd, LineWithoutAProgramIsAnError) {
  fakes::FakeProcessLauncher launcher;
  for (const char* line : {"", "   ", "\"\" x"}) {
    EXPECT_FALSE(importer::ExecCmd(line, launcher).ok()) << '"' << line << '"';
  }
  EXPECT_TRUE(launcher.runs.empty());
}

// Real programs, real files.
class ExecCmdRealTest : public ::testing::Test {
 protected:
  fakes::TempDir dir;
  platform::PosixProcessLauncher launcher;
};

TEST_F(ExecCmdRealTest, ExitCodesComeBack) {
  ASSERT_TRUE(importer::ExecCmd("/bin/true", launcher).ok());
  EXPECT_EQ(importer::ExecCmd("/bin/true ignored args", launcher).value(), 0);
  EXPECT_EQ(importer::ExecCmd("/bin/false", launcher).value(), 1);
}

TEST_F(ExecCmdRealTest, ProgramInAFolderWithBlanksRunsQuotedOrNot) {
  const auto folder = dir.path() / "dir with blanks";
  std::filesystem::create_directory(folder);
  const std::string program = (folder / "report").string();
  const std::string out = dir.File("out.txt");
  fakes::WriteArgumentReporter(program, 3);

  for (const std::string& shown : {program, "\"" + program + "\""}) {
    SCOPED_TRACE(shown);
    std::filesystem::remove(out);
    const auto result = importer::ExecCmd(
        shown + " " + out + " X -o+ \"/srv/a b.msq\" \"C:\\App\\Temp\\\"", launcher);
    ASSERT_TRUE(result.ok()) << result.message();
    EXPECT_EQ(result.value(), 3);
    EXPECT_EQ(fakes::ReadBytes(out), "[X]\n[-o+]\n[/srv/a b.msq]\n[C:\\App\\Temp\\]\n");
  }
}

TEST_F(ExecCmdRealTest, MissingProgramIsAnErrorNamingIt) {
  const std::string missing = dir.File("no such program");
  const auto result = importer::ExecCmd(missing + " X", launcher);
  ASSERT_FALSE(result.ok());
  // No prefix exists, so the first word is what could not be started.
  EXPECT_NE(result.message().find(dir.File("no")), std::string::npos) << result.message();
}

}  // namespace
