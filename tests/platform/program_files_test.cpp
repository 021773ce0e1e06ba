#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "platform/audio_factory.h"
#include "platform/file_store.h"
#include "platform/log_file.h"
#include "platform/paths.h"
#include "platform/posix/line_output.h"
#include "platform/posix/posix_file_store.h"
#include "platform/posix/unique_fd.h"
#include "tests/fakes/special_files.h"
#include "tests/fakes/temp_dir.h"

namespace {

namespace fs = std::filesystem;

// Every file the show opens to read or to append to is refused before it is
// opened unless it is a regular file, with one wording: a pipe would hold the
// show until someone wrote to it, a device may never end.
TEST(SpecialFiles, SongsShowLogAndOwnFilesAreRefusedBeforeTheyAreOpened) {
  fakes::TempDir dir;
  platform::PosixFileStore files;
  std::unique_ptr<platform::AudioPlayer> audio = platform::MakeAudioPlayer({.silent = true});
  for (const fakes::SpecialFile& special : fakes::SpecialFiles()) {
    SCOPED_TRACE(special.name);
    const std::string path = dir.File(std::string(special.name) + ".file");
    special.make(path);
    // A writer that never writes: opening or reading the pipe would wait.
    platform::UniqueFd writer;
    if (std::string(special.name) == "pipe") {
      writer.Reset(::open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC));
    }

    const auto read = files.ReadWholeFile(path, 1024);
    ASSERT_FALSE(read.ok());
    EXPECT_EQ(read.message(), special.reason);

    const platform::Status appended = platform::MakeLogFile(path)->AppendLine("event");
    const platform::Status opened = audio->Open(path);
    audio->Close();
    for (const platform::Status& refused : {appended, opened}) {
      ASSERT_FALSE(refused.ok());
      EXPECT_NE(refused.message().find("\"" + path + "\": " + special.reason), std::string::npos)
          << refused.message();
    }
  }
}

TEST(SpecialFiles, WholeFileReadsStopAtTheirLimit) {
  fakes::TempDir dir;
  const std::string path = dir.File("big");
  fakes::WriteBytes(path, std::string(100, 'x'));
  platform::PosixFileStore files;
  EXPECT_EQ(files.ReadWholeFile(path, 100).value(), std::string(100, 'x'));
  EXPECT_EQ(files.ReadWholeFile(path, 99).message(), platform::LargerThanMessage(99));
  EXPECT_EQ(files.ReadWholeFile(dir.File("none"), 99).message(), "the file does not exist");
}

TEST(SplitTextLines, EndsLinesAsTheFilesAreWritten) {
  const struct {
    const char* bytes;
    std::vector<std::string> lines;
  } cases[] = {{"a\r\nb\r\n", {"a", "b"}},
               {"a\nb", {"a", "b"}},
               {"a\r\n\r\nb\r", {"a", "", "b\r"}},
               {"", {}},
               {"x\ry\n", {"x\ry"}}};
  for (const auto& c : cases) EXPECT_EQ(platform::SplitTextLines(c.bytes), c.lines) << c.bytes;
}

// glimmer show's status lines go to a pipe nobody reads: the show must not
// wait. Lines with no room are dropped and counted; the next one that gets
// through says how many.
TEST(LineOutput, AFullPipeLosesLinesNotTime) {
  int ends[2];
  ASSERT_EQ(::pipe2(ends, O_CLOEXEC), 0);
  platform::UniqueFd reader(ends[0]), writer(ends[1]);
  platform::LineOutput out(writer.get());
  const std::string line(1000, 's');
  for (int i = 0; i < 200; ++i) out.Write(line);  // three times what a pipe holds
  EXPECT_GT(out.Dropped(), 0);

  ::fcntl(reader.get(), F_SETFL, O_NONBLOCK);
  std::string drained;
  char buffer[65536];
  for (ssize_t n; (n = ::read(reader.get(), buffer, sizeof buffer)) > 0;) {
    drained.append(buffer, static_cast<std::size_t>(n));
  }
  EXPECT_EQ(drained.size() % (line.size() + 1), 0u) << "only whole lines";
  out.Write("paused");
  const ssize_t n = ::read(reader.get(), buffer, sizeof buffer);
  ASSERT_GT(n, 0);
  EXPECT_EQ(std::string(buffer, static_cast<std::size_t>(n)),
            "(" + std::to_string(out.Dropped()) + " line(s) not shown: output was full)\npaused\n");
}

// Where a copy of the program keeps its files: beside itself, unless it runs
// from where the package installed it.
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
