// Where a copy of the program keeps its files: beside itself, unless it runs
// from where the package installed it.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "platform/paths.h"
#include "tests/fakes/temp_dir.h"

namespace {

namespace fs = std::filesystem;

struct Case {
  const char* name;
  const char* programFolder;  // below the test's folder
  bool extractorInLibexec;    // <prefix>/libexec/glimmerfield/glimmer-extract exists
  const char* xdgDataHome;    // "@" stands for the test's folder
  const char* home;
  const char* data;  // expected; "@" stands for the test's folder
  const char* programs;
  bool installed;
};

std::string Expand(const std::string& text, const std::string& root) {
  std::string out = text;
  if (const auto at = out.find('@'); at != std::string::npos) out.replace(at, 1, root);
  return out;
}

TEST(ProgramFolders, InstalledCopiesUseTheDataFolderOthersTheirOwn) {
  const Case cases[] = {
      {"build tree", "build/bin", false, "", "/home/op", "@/build/bin", "@/build/bin", false},
      {"installed", "usr/bin", true, "", "/home/op", "/home/op/.local/share/glimmerfield",
       "@/usr/libexec/glimmerfield", true},
      {"installed, XDG_DATA_HOME set", "usr/bin", true, "@/xdg", "/home/op", "@/xdg/glimmerfield",
       "@/usr/libexec/glimmerfield", true},
      {"relative XDG_DATA_HOME ignored", "usr/bin", true, "xdg", "/home/op",
       "/home/op/.local/share/glimmerfield", "@/usr/libexec/glimmerfield", true},
      {"home without a home", "usr/bin", true, "", "/", "/.local/share/glimmerfield",
       "@/usr/libexec/glimmerfield", true},
      {"bin folder without the extractor in libexec", "opt/show/bin", false, "", "/home/op",
       "@/opt/show/bin", "@/opt/show/bin", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fakes::TempDir dir;
    const std::string root = dir.path().string();
    const fs::path program = dir.path() / c.programFolder;
    fs::create_directories(program);
    if (c.extractorInLibexec) {
      const fs::path libexec = program.parent_path() / "libexec" / "glimmerfield";
      fs::create_directories(libexec);
      fakes::WriteBytes((libexec / "glimmer-extract").string(), "#!/bin/sh\n");
    }
    const platform::ProgramFolders folders =
        platform::ChooseProgramFolders(program.string() + "/", Expand(c.xdgDataHome, root), c.home);
    EXPECT_EQ(folders.data, Expand(c.data, root));
    EXPECT_EQ(folders.programs, Expand(c.programs, root));
    EXPECT_EQ(folders.installed, c.installed);
  }
}

TEST(ProgramFolders, DataFolderIsMadeOnFirstStartAndAFailureSaysWhere) {
  fakes::TempDir dir;
  const std::string data = dir.File("share/glimmerfield");
  ASSERT_TRUE(platform::MakeDataFolder(data).ok());
  EXPECT_TRUE(fs::is_directory(data));
  EXPECT_TRUE(platform::MakeDataFolder(data).ok());  // already there

  fakes::WriteBytes(dir.File("file"), "");
  const platform::Status refused = platform::MakeDataFolder(dir.File("file/glimmerfield"));
  ASSERT_FALSE(refused.ok());
  EXPECT_NE(refused.message().find(dir.File("file/glimmerfield")), std::string::npos)
      << refused.message();
}

}  // namespace
