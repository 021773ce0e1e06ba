#include "tools/extractor/extract.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "platform/posix/posix_process_launcher.h"
#include "tests/fakes/rar_writer.h"
#include "tests/fakes/temp_dir.h"

namespace {

namespace fs = std::filesystem;
using fakes::RarEntry;

class ExtractTest : public ::testing::Test {
 protected:
  fakes::TempDir dir;
  std::string archive = dir.File("show.msq");
  fs::path dest = dir.path() / "Temp";
  std::ostringstream out, err;

  int Run(const std::vector<RarEntry>& entries, std::string destination = "") {
    fakes::WriteRar4(archive, entries);
    if (destination.empty()) destination = dest.string() + "/";
    return extractor::RunExtractor({"X", "-o+", archive, destination}, out, err);
  }
  std::string Read(const std::string& relative) const {
    return fakes::ReadBytes((dest / relative).string());
  }
  // Every path under `root`, relative, sorted.
  static std::vector<std::string> Tree(const fs::path& root) {
    std::vector<std::string> paths;
    for (const auto& e : fs::recursive_directory_iterator(root)) {
      paths.push_back(fs::relative(e.path(), root).string());
    }
    std::sort(paths.begin(), paths.end());
    return paths;
  }
};

TEST_F(ExtractTest, ExtractsNestedFilesWithTheirStoredPaths) {
  const fs::path workingDirectory = fs::current_path();
  ASSERT_EQ(Run({{"Xmas.2024", "<sequence/>"},
                 {"audio/song.mp3", std::string("ID3\0\1\2", 6)},
                 {"a/b/c/deep.txt", "deep"}}),
            0)
      << err.str();
  EXPECT_EQ(Read("Xmas.2024"), "<sequence/>");
  EXPECT_EQ(Read("audio/song.mp3"), std::string("ID3\0\1\2", 6));
  EXPECT_EQ(Read("a/b/c/deep.txt"), "deep");
  EXPECT_EQ(err.str(), "");
  EXPECT_EQ(fs::current_path(), workingDirectory);
}

TEST_F(ExtractTest, BackslashNamesAndFolderEntriesBecomeFolders) {
  RarEntry folder{"Shows\\Empty", "", true};
  ASSERT_EQ(Run({folder, {"Shows\\Audio\\song.wav", "RIFF"}, {".\\top.txt", "top"}}), 0)
      << err.str();
  EXPECT_TRUE(fs::is_directory(dest / "Shows/Empty"));
  EXPECT_EQ(Read("Shows/Audio/song.wav"), "RIFF");
  EXPECT_EQ(Read("top.txt"), "top");
  EXPECT_EQ(Tree(dest), (std::vector<std::string>{"Shows", "Shows/Audio", "Shows/Audio/song.wav",
                                                  "Shows/Empty", "top.txt"}));
}

TEST_F(ExtractTest, OverwritesExistingFilesAndCreatesTheDestination) {
  EXPECT_FALSE(fs::exists(dest));
  ASSERT_EQ(Run({{"doc", "a much longer first version"}}), 0) << err.str();
  ASSERT_EQ(Run({{"doc", "second"}}), 0) << err.str();
  EXPECT_EQ(Read("doc"), "second");
}

TEST_F(ExtractTest, DestinationMayEndInEitherSeparatorOrNone) {
  for (const char* suffix : {"", "/", "\\", "//"}) {
    SCOPED_TRACE(suffix);
    fs::remove_all(dest);
    ASSERT_EQ(Run({{"doc", "x"}}, dest.string() + suffix), 0) << err.str();
    EXPECT_EQ(Read("doc"), "x");
  }
}

TEST_F(ExtractTest, EntriesLeavingTheDestinationAreRefusedAndTheRestExtracted) {
  const std::string outside = dir.File("outside.txt");
  const std::string absolute = dir.File("absolute.txt");
  const int code = Run({{"../outside.txt", "evil"},
                        {"ok/../../outside.txt", "evil"},
                        {"..\\outside.txt", "evil"},
                        {absolute, "evil"},
                        {"C:\\Windows\\evil.txt", "evil"},
                        {"good.txt", "good"}});
  EXPECT_EQ(code, 1);
  EXPECT_FALSE(fs::exists(outside));
  EXPECT_FALSE(fs::exists(absolute));
  EXPECT_EQ(Tree(dest), std::vector<std::string>{"good.txt"});
  // libarchive already reads RAR's "\\" as "/", so names are reported that way.
  for (const std::string& name :
       {std::string("../outside.txt"), std::string("ok/../../outside.txt"), absolute,
        std::string("C:/Windows/evil.txt")}) {
    EXPECT_NE(err.str().find("refused entry " + name + ":"), std::string::npos) << err.str();
  }
}

TEST_F(ExtractTest, NeverWritesThroughALinkAlreadyOnDisk) {
  const fs::path elsewhere = dir.path() / "elsewhere";
  fs::create_directories(elsewhere);
  fs::create_directories(dest);
  fs::create_directory_symlink(elsewhere, dest / "link");

  EXPECT_EQ(Run({{"link/evil.txt", "evil"}, {"fine.txt", "fine"}}), 1);
  EXPECT_FALSE(fs::exists(elsewhere / "evil.txt"));
  EXPECT_EQ(Read("fine.txt"), "fine");
  EXPECT_NE(err.str().find("refused entry link/evil.txt"), std::string::npos) << err.str();
}

TEST_F(ExtractTest, LinkEntriesAreSkippedSoLaterEntriesCannotFollowThem) {
  const fs::path elsewhere = dir.path() / "elsewhere";
  fs::create_directories(elsewhere);
  const int code = Run(
      {fakes::RarSymlink("link", elsewhere.string()), {"link/evil.txt", "evil"}, {"doc", "doc"}});
  EXPECT_EQ(code, 0) << err.str();
  EXPECT_FALSE(fs::is_symlink(dest / "link"));
  EXPECT_FALSE(fs::exists(elsewhere / "evil.txt"));
  EXPECT_EQ(Read("doc"), "doc");
  EXPECT_NE(err.str().find("skipped entry link:"), std::string::npos) << err.str();
}

TEST_F(ExtractTest, UnreadableArchivesAreReportedByName) {
  struct Case {
    const char* name;
    std::string bytes;  // empty name: no file at all
  };
  const std::string good = fakes::MakeRar4({{"doc", "0123456789"}});
  const Case cases[] = {
      {"Missing", ""},
      {"NotAnArchive", "just some text, no archive here\n"},
      {"BadHeaderCrc",
       [&] {
         std::string b = good;
         b[7] ^= 0x55;  // main header CRC
         return b;
       }()},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = dir.File(c.name);
    if (!c.bytes.empty()) fakes::WriteBytes(path, c.bytes);
    std::ostringstream o, e;
    EXPECT_EQ(extractor::RunExtractor({"X", "-o+", path, dest.string()}, o, e), 1);
    EXPECT_NE(e.str().find(path), std::string::npos) << e.str();
  }
}

TEST_F(ExtractTest, DestinationBlockedByAFileIsReported) {
  fakes::WriteBytes(dest.string(), "a file, not a folder");
  EXPECT_EQ(Run({{"doc", "x"}}), 1);
  EXPECT_NE(err.str().find("Cannot create the destination folder " + dest.string()),
            std::string::npos)
      << err.str();
  EXPECT_EQ(fakes::ReadBytes(dest.string()), "a file, not a folder");
}

TEST_F(ExtractTest, TruncatedArchiveKeepsWhatCameBeforeAndFails) {
  std::string bytes = fakes::MakeRar4({{"first", "complete"}, {"second", std::string(1000, 'x')}});
  bytes.resize(bytes.size() - 600);
  fakes::WriteBytes(archive, bytes);
  EXPECT_EQ(extractor::RunExtractor({"X", "-o+", archive, dest.string()}, out, err), 1);
  EXPECT_EQ(Read("first"), "complete");
  EXPECT_NE(err.str().find(archive), std::string::npos) << err.str();
}

TEST(ExtractorCommandLine, WrongCommandLinesGiveUsageAndExitTwo) {
  const std::vector<std::vector<std::string>> lines = {
      {},
      {"X", "-o+", "a.msq"},
      {"X", "-o+", "a.msq", "dest", "extra"},
      {"E", "-o+", "a.msq", "dest"},
      {"X", "-o-", "a.msq", "dest"},
      {"X", "-o+", "", "dest"},
      {"X", "-o+", "a.msq", ""},
  };
  for (const auto& args : lines) {
    std::ostringstream out, err;
    EXPECT_EQ(extractor::RunExtractor(args, out, err), 2) << ::testing::PrintToString(args);
    EXPECT_NE(err.str().find("Usage: glimmer-extract X -o+ <archive> <destination folder>"),
              std::string::npos);
  }
}

TEST(SafeEntryPath, KeepsPathsInsideAndSaysWhyOthersAreNot) {
  struct Case {
    const char* name;
    const char* safe;  // nullptr: refused
  };
  const Case cases[] = {
      {"a/b.txt", "a/b.txt"},
      {"a\\b\\c", "a/b/c"},
      {"./a//b/", "a/b"},
      {"a..b/..c", "a..b/..c"},
      {".", ""},
      {"..", nullptr},
      {"a/../b", nullptr},
      {"/etc/passwd", nullptr},
      {"\\\\server\\share", nullptr},
      {"c:\\x", nullptr},
      {"C:x", nullptr},
  };
  for (const auto& c : cases) {
    const auto result = extractor::SafeEntryPath(c.name);
    if (c.safe) {
      ASSERT_TRUE(result.ok()) << c.name << ": " << result.message();
      EXPECT_EQ(result.value(), c.safe) << c.name;
    } else {
      EXPECT_FALSE(result.ok()) << c.name;
      EXPECT_FALSE(result.message().empty());
    }
  }
}

// Other suites build archives with the writer; its CRC must be the one RAR
// uses, or their data checks would pass by accident.
TEST(RarWriter, Crc32MatchesTheStandardCheckValue) {
  EXPECT_EQ(fakes::Crc32("123456789"), 0xCBF43926u);
  EXPECT_EQ(fakes::Crc32(""), 0u);
}

// The real program, as the import runs it.
TEST(ExtractorProgram, ExtractsAnArchiveEndToEnd) {
  const char* bin = std::getenv("GLIMMER_BIN");
  const fs::path program = fs::path(bin ? bin : GLIMMER_BUILD_BIN) / "glimmer-extract";
  ASSERT_TRUE(fs::exists(program)) << program;

  fakes::TempDir dir;
  const std::string archive = dir.File("Show.final.msq");
  fakes::WriteRar4(archive, {{"Show.final", "<xml/>"}, {"media\\song.mp3", "mp3"}});
  const fs::path dest = dir.path() / "app" / "Temp";

  platform::PosixProcessLauncher launcher;
  const auto result = launcher.Run({program.string(), "X", "-o+", archive, dest.string() + "/"});
  ASSERT_TRUE(result.ok()) << result.message();
  EXPECT_EQ(result.value(), 0);
  EXPECT_EQ(fakes::ReadBytes((dest / "Show.final").string()), "<xml/>");
  EXPECT_EQ(fakes::ReadBytes((dest / "media/song.mp3").string()), "mp3");

  const auto usage = launcher.Run({program.string(), "X"});
  ASSERT_TRUE(usage.ok());
  EXPECT_EQ(usage.value(), 2);
}

}  // namespace
