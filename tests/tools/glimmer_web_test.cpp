// `glimmer web --enable` against planted and honest links in the show's
// folder: nothing is written through a link it did not mean to follow, and a
// settings file the operator linked stays linked.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "tests/fakes/run_program.h"
#include "tests/fakes/temp_dir.h"
#include "tests/tools/glimmer_process.h"

namespace {

namespace fs = std::filesystem;

fakes::ProgramRun Enable(const fakes::TempDir& dir) {
  return fakes::RunProgram(
      {tools_test::GlimmerProgram(), "web", "--dir", dir.path().string(), "--enable"});
}

unsigned Mode(const std::string& path) {
  struct stat st {};
  ::stat(path.c_str(), &st);
  return st.st_mode & 0777;
}

TEST(GlimmerWeb, EnableFollowsNoLinkPlantedWhereItsTemporaryGoes) {
  fakes::TempDir dir, elsewhere;
  const std::string victim = elsewhere.File("victim");
  fakes::WriteBytes(victim, "precious\n");
  fs::create_symlink(victim, dir.File("settings.toml.new"));
  const fakes::ProgramRun run = Enable(dir);
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(fakes::ReadBytes(victim), "precious\n");
  EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(dir.File("settings.toml"))));
  EXPECT_NE(fakes::ReadBytes(dir.File("settings.toml")).find("[web]"), std::string::npos);
  EXPECT_EQ(Mode(dir.File("settings.toml")), 0600u);
  // Nothing of ours is left beside it.
  for (const auto& entry : fs::directory_iterator(dir.path())) {
    const std::string name = entry.path().filename().string();
    EXPECT_TRUE(name == "settings.toml" || name == "settings.toml.new") << name;
  }
}

TEST(GlimmerWeb, ALinkedSettingsFileIsWrittenThroughToItsTargetOrRefused) {
  fakes::TempDir dir, conf;
  const std::string real = conf.File("real.toml");
  fakes::WriteBytes(real, "[alerts]\ncommand = \"/usr/local/bin/tell-me\"\n");
  fs::create_symlink(real, dir.File("settings.toml"));
  const fakes::ProgramRun run = Enable(dir);
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_TRUE(fs::is_symlink(dir.File("settings.toml")));
  const std::string written = fakes::ReadBytes(real);
  EXPECT_EQ(written.rfind("[alerts]\ncommand = \"/usr/local/bin/tell-me\"\n", 0), 0u) << written;
  EXPECT_NE(written.find("[web]"), std::string::npos) << written;
  EXPECT_EQ(Mode(real), 0600u);

  // A link that leads nowhere: said, and left as it is.
  fakes::TempDir dangling;
  const std::string gone = conf.File("gone.toml");
  fs::create_symlink(gone, dangling.File("settings.toml"));
  const fakes::ProgramRun refused = Enable(dangling);
  EXPECT_EQ(refused.exitCode, 1);
  EXPECT_NE(
      refused.err.find("\"" + dangling.File("settings.toml") +
                       "\" cannot be read: it is a link to \"" + gone + "\", which does not exist"),
      std::string::npos)
      << refused.err;
  EXPECT_TRUE(fs::is_symlink(dangling.File("settings.toml")));
  EXPECT_FALSE(fs::exists(gone));
}

}  // namespace
