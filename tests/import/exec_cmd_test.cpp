#include "import/exec_cmd.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "platform/posix/posix_process_launcher.h"
#include "tests/fakes/fake_process_launcher.h"
#include "tests/fakes/script_file.h"
#include "tests/fakes/temp_dir.h"

namespace {

using Args = std::vector<std::string>;

const std::string kWinRar = "C:\\Program Files\\WinRAR\\WinRAR.exe";

// As Windows starts a program: an unquoted program path with blanks is the
// shortest run of words that names an existing file.
TEST(SplitCommandLine, SplitsAsWindowsStartsAProgram) {
  // The line, the files that exist, the words.
  const std::tuple<std::string, std::set<std::string>, Args> cases[] = {
      {"C:\\Tools\\WinRAR.exe X -o+ \"D:\\Shows\\Xmas.2024.msq\" \"C:\\App\\Temp\\\"",
       {"C:\\Tools\\WinRAR.exe"},
       {"C:\\Tools\\WinRAR.exe", "X", "-o+", "D:\\Shows\\Xmas.2024.msq", "C:\\App\\Temp\\"}},
      {kWinRar + " X -o+ \"D:\\My Shows\\a b.msq\" \"C:\\App\\Temp\\\"",
       {kWinRar},
       {kWinRar, "X", "-o+", "D:\\My Shows\\a b.msq", "C:\\App\\Temp\\"}},
      {kWinRar + " X", {"C:\\Program", kWinRar}, {"C:\\Program", "Files\\WinRAR\\WinRAR.exe", "X"}},
      {kWinRar + " X", {}, {"C:\\Program", "Files\\WinRAR\\WinRAR.exe", "X"}},  // none exists
      {kWinRar, {kWinRar}, {kWinRar}},
      {"\"C:\\Program Files\\x.exe\" a \"b c\"", {}, {"C:\\Program Files\\x.exe", "a", "b c"}},
      {"/opt/glimmer field/glimmer-extract X -o+ \"/srv/a b.msq\" \"/app/Temp/\"",
       {"/opt/glimmer field/glimmer-extract"},
       {"/opt/glimmer field/glimmer-extract", "X", "-o+", "/srv/a b.msq", "/app/Temp/"}},
      {"  prog \t a   b\t", {}, {"prog", "a", "b"}},
      {"prog \"\" x", {}, {"prog", "", "x"}},
      {"prog a\"b c\"d", {}, {"prog", "ab cd"}},
      {"prog \"a b", {}, {"prog", "a b"}},                   // unclosed quote
      {"prog \"C:\\x\\\" y", {}, {"prog", "C:\\x\\", "y"}},  // backslash before a quote
      {"", {}, {}},
      {" \t ", {}, {}},
  };
  for (const auto& [line, files, expected] : cases) {
    SCOPED_TRACE(line);
    const auto exists = [&files = files](const std::string& p) { return files.count(p) > 0; };
    EXPECT_EQ(importer::SplitCommandLine(line, exists), expected);
  }
}

TEST(ExecCmd, RunsTheLinesProgramAndReturnsItsExitCodeOrWhyNot) {
  fakes::FakeProcessLauncher fake;
  for (const char* line : {"", "   ", "\"\" x"}) {
    EXPECT_FALSE(importer::ExecCmd(line, fake).ok()) << '"' << line << '"';
  }
  EXPECT_TRUE(fake.runs.empty());

  fakes::TempDir dir;
  platform::PosixProcessLauncher launcher;
  // No prefix exists, so the first word is what could not be started.
  const auto missing = importer::ExecCmd(dir.File("no such program") + " X", launcher);
  ASSERT_FALSE(missing.ok());
  EXPECT_NE(missing.message().find(dir.File("no")), std::string::npos) << missing.message();

  // A program in a folder with blanks, quoted or not.
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

}  // namespace
