#include "platform/posix/posix_file_store.h"

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <numeric>

#include "tests/fakes/run_program.h"
#include "tests/fakes/special_files.h"
#include "tests/fakes/temp_dir.h"
#include "tests/files/crash_rig.h"

namespace {

// Regression: a writer killed between creating its temporary file and the
// rename left the temporary behind, and every such crash added another
// partial copy (up to a compiled sequence in size) to the folder.
TEST(PosixFileStoreTest, LeftoverTemporaryOfAKilledWriteGoesWithTheNextSave) {
  fakes::TempDir dir;
  // What a killed save of the playlist leaves; names the store does not make;
  // another file's, which goes with that file's save.
  const char* const leftovers[] = {"playlist.txt.tmpAb3xYz", "playlist.txt.tmp123456"};
  const char* const others[] = {"playlist.txt.tmp12345", "playlist.txt.tmp1234567",
                                "playlist.txt.tmp-notes", "playlist.txt.bak",
                                "preferences.txt.tmpAb3xYz"};
  for (const char* name : leftovers) fakes::WriteBytes(dir.File(name), "partial");
  for (const char* name : others) fakes::WriteBytes(dir.File(name), "partial");

  platform::PosixFileStore store;
  ASSERT_TRUE(store.ReplaceFile(dir.File("playlist.txt"), "new").ok());
  EXPECT_EQ(fakes::ReadBytes(dir.File("playlist.txt")), "new");
  for (const char* name : leftovers) EXPECT_FALSE(std::filesystem::exists(dir.File(name))) << name;
  for (const char* name : others) EXPECT_TRUE(std::filesystem::exists(dir.File(name))) << name;
  ASSERT_TRUE(store.ReplaceFile(dir.File("preferences.txt"), "new").ok());
  EXPECT_FALSE(std::filesystem::exists(dir.File("preferences.txt.tmpAb3xYz")));
}

// Two programs saving one file deleted each other's temporary file: 8 of
// 400 saves failed.
TEST(PosixFileStoreTest, TemporariesOfWritersStillRunningAreNeverRemoved) {
  fakes::TempDir dir;
  const std::string dead =
      "playlist.txt.tmp-" + std::to_string(fakes::EndedProcessId()) + "-Ab3xYz";
  const std::string running = "playlist.txt.tmp-" + std::to_string(getppid()) + "-Ab3xYz";
  const std::string ours = "playlist.txt.tmp-" + std::to_string(getpid()) + "-Ab3xYz";
  for (const std::string& name : {dead, running, ours}) fakes::WriteBytes(dir.File(name), "x");
  platform::PosixFileStore store;
  ASSERT_TRUE(store.ReplaceFile(dir.File("playlist.txt"), "new").ok());
  EXPECT_FALSE(std::filesystem::exists(dir.File(dead)));
  EXPECT_TRUE(std::filesystem::exists(dir.File(running)));
  EXPECT_TRUE(std::filesystem::exists(dir.File(ours)));

  // Two processes saving the same file at once, as the window and a show would.
  constexpr int kSaves = 100;
  pid_t writers[2];
  for (pid_t& writer : writers) {
    writer = fork();
    if (writer == 0) {
      int failed = 0;
      for (int i = 0; i < kSaves; ++i) {
        failed += store.ReplaceFile(dir.File("playlist.txt"), std::string(4096, 'a')).ok() ? 0 : 1;
      }
      _exit(failed);
    }
  }
  for (const pid_t writer : writers) {
    int status = 0;
    waitpid(writer, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "saves failed";
  }
}

// A writer killed at random moments while it rewrites the three files leaves
// each one whole: old or new. bench/crash_consistency runs hundreds of kills.
TEST(CrashConsistencyTest, KilledWhileRewritingEveryFileIsTheOldOrTheNewVersion) {
  fakes::TempDir dir;
  platform::PosixFileStore files;
  const crash_rig::Figures figures = crash_rig::Run(dir.path(), files, 40, 20261207);
  EXPECT_EQ(figures.kills, 40);
  EXPECT_EQ(figures.faults, std::vector<std::string>{});
  // A temporary file a kill left behind goes with the next save of its file.
  EXPECT_EQ(figures.leftoverFiles, 0);
  // The kills must land inside writes, or the check proves nothing.
  EXPECT_GT(std::accumulate(figures.killsDuring.begin(), figures.killsDuring.end(), 0), 10);
}

// settings.toml was read with a plain stream: a pipe there held glimmer show
// and glimmer web before they started, /dev/zero read until memory ran out,
// a folder stopped them with a raw stream error and an unreadable file was
// taken as no settings. A file left out is still no settings; everything
// else that keeps it from being read names the file and says why.
TEST(ReadOptionalFileTest, OnlyAFileLeftOutIsEmptyEverythingElseIsRefusedWithItsReason) {
  fakes::TempDir dir;
  const std::string path = dir.File("settings.toml");
  EXPECT_EQ(platform::ReadOptionalFile(path, 100).value(), "");
  fakes::WriteBytes(path, "[web]\n");
  EXPECT_EQ(platform::ReadOptionalFile(path, 100).value(), "[web]\n");

  namespace fs = std::filesystem;
  const auto beside = [](const std::string& at, const char* name) {
    return fs::path(at).parent_path() / name;
  };
  std::vector<fakes::SpecialFile> cases = fakes::SpecialFiles();
  cases.push_back({"link to nothing",
                   [&](const std::string& at) { fs::create_symlink(beside(at, "gone.toml"), at); },
                   "it is a link to \""});
  cases.push_back({"links in a loop",
                   [&](const std::string& at) {
                     fs::create_symlink(beside(at, "b.toml"), at);
                     fs::create_symlink(at, beside(at, "b.toml"));
                   },
                   "it is a link that leads back to itself"});
  cases.push_back({"too large",
                   [](const std::string& at) { fakes::WriteBytes(at, std::string(101, 'x')); },
                   "the file is larger than the 100 bytes it may have"});
  for (const fakes::SpecialFile& special : cases) {
    SCOPED_TRACE(special.name);
    fakes::TempDir here;
    const std::string at = here.File("settings.toml");
    special.make(at);
    const auto read = platform::ReadOptionalFile(at, 100);
    ASSERT_FALSE(read.ok());
    EXPECT_EQ(read.message().rfind("\"" + at + "\" cannot be read: " + special.reason, 0), 0u)
        << read.message();
  }
}

// An unreadable calendar.toml or settings.toml said only that it could not
// be read (and settings.toml not even that): the reason is the system's.
TEST(ReadOptionalFileTest, AFileThatMayNotBeReadGivesTheSystemsReason) {
  fakes::TempDir dir;
  const std::string path = dir.File("calendar.toml");
  fakes::WriteBytes(path, "[[show]]\n");
  chmod(path.c_str(), 0600);
  // Root reads anything: the operator's account does not.
  const fakes::ChildRun run = fakes::RunInChild([&](std::string& said) {
    if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) return 3;
    said = platform::ReadOptionalFile(path, 100).message();
    return 0;
  });
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(run.said, "\"" + path + "\" cannot be read: Permission denied");
}

}  // namespace
