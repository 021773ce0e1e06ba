#include "tools/extractor/extract.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <clocale>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "tests/fakes/rar_writer.h"
#include "tests/fakes/run_program.h"
#include "tests/fakes/temp_dir.h"

namespace {

namespace fs = std::filesystem;
using fakes::RarEntry;

// Every path below the folder `fd` (relative, sorted), found through
// descriptors so that paths past PATH_MAX are seen too; `remove` deletes
// them on the way out.
void Walk(int fd, const std::string& prefix, std::vector<std::string>& paths, bool remove) {
  DIR* dir = fdopendir(dup(fd));
  if (dir == nullptr) return;
  std::vector<std::pair<std::string, bool>> children;
  while (const dirent* e = readdir(dir)) {
    const std::string name = e->d_name;
    if (name == "." || name == "..") continue;
    struct stat st {};
    fstatat(fd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW);
    children.emplace_back(name, S_ISDIR(st.st_mode));
  }
  closedir(dir);
  for (const auto& [name, isDir] : children) {
    paths.push_back(prefix + name);
    if (isDir) {
      const int child = openat(fd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW);
      Walk(child, prefix + name + "/", paths, remove);
      close(child);
    }
    if (remove) unlinkat(fd, name.c_str(), isDir ? AT_REMOVEDIR : 0);
  }
  std::sort(paths.begin(), paths.end());
}

std::vector<std::string> DeepTree(const fs::path& root, bool remove = false) {
  std::vector<std::string> paths;
  const int fd = open(root.c_str(), O_RDONLY | O_DIRECTORY);
  if (fd < 0) return paths;
  Walk(fd, "", paths, remove);
  close(fd);
  return paths;
}

// One entry of a ustar archive: type '0' file, '1' hard link, '2' symlink,
// '5' folder, '6' pipe.
struct TarEntry {
  std::string name;
  char type = '0';
  std::string data;  // a file's bytes, a link's target
};

std::string MakeTar(const std::vector<TarEntry>& entries) {
  std::string out;
  for (const TarEntry& e : entries) {
    std::string header(512, '\0');
    const auto put = [&](std::size_t at, std::size_t width, const std::string& text) {
      header.replace(at, std::min(width, text.size()), text.substr(0, width));
    };
    const auto octal = [](unsigned long value, int digits) {
      char b[32];
      std::snprintf(b, sizeof b, "%0*lo", digits, value);
      return std::string(b);
    };
    const bool file = e.type == '0';
    put(0, 100, e.name);
    put(100, 8, octal(e.type == '5' ? 0755 : 0644, 7));
    put(108, 8, octal(0, 7));
    put(116, 8, octal(0, 7));
    put(124, 12, octal(file ? e.data.size() : 0, 11));
    put(136, 12, octal(1700000000, 11));
    header[156] = e.type;
    if (!file) put(157, 100, e.data);
    put(257, 8,
        std::string("ustar\0"
                    "00",
                    8));
    put(148, 8, "        ");
    unsigned long sum = 0;
    for (unsigned char c : header) sum += c;
    put(148, 8, octal(sum, 6) + std::string("\0 ", 2));
    out += header;
    if (file) out += e.data + std::string((512 - e.data.size() % 512) % 512, '\0');
  }
  return out + std::string(1024, '\0');
}

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
};

TEST_F(ExtractTest, ExtractsNestedFilesAndFoldersWithTheirStoredPaths) {
  const fs::path workingDirectory = fs::current_path();
  const std::string binary("ID3\0\1\2", 6);
  ASSERT_EQ(Run({{"Xmas.2024", "<sequence/>"},
                 {"audio/song.mp3", binary},
                 {"a/b/c/deep.txt", "deep"},
                 {"Shows\\Empty", "", true},  // a folder entry
                 {"Shows\\Audio\\song.wav", "RIFF"},
                 {".\\top.txt", "top"}}),
            0)
      << err.str();
  EXPECT_EQ(DeepTree(dest),
            (std::vector<std::string>{"Shows", "Shows/Audio", "Shows/Audio/song.wav", "Shows/Empty",
                                      "Xmas.2024", "a", "a/b", "a/b/c", "a/b/c/deep.txt", "audio",
                                      "audio/song.mp3", "top.txt"}));
  EXPECT_TRUE(fs::is_directory(dest / "Shows/Empty"));
  EXPECT_EQ(Read("Xmas.2024"), "<sequence/>");
  EXPECT_EQ(Read("audio/song.mp3"), binary);
  EXPECT_EQ(Read("a/b/c/deep.txt"), "deep");
  EXPECT_EQ(Read("Shows/Audio/song.wav"), "RIFF");
  EXPECT_EQ(Read("top.txt"), "top");
  EXPECT_EQ(err.str(), "");
  EXPECT_EQ(fs::current_path(), workingDirectory);
}

TEST_F(ExtractTest, CreatesTheDestinationOverwritesAndTakesAnySeparatorAtItsEnd) {
  EXPECT_FALSE(fs::exists(dest));
  std::string content = "a much longer first version";
  for (const char* suffix : {"", "/", "\\", "//"}) {
    SCOPED_TRACE(suffix);
    ASSERT_EQ(Run({{"doc", content}}, dest.string() + suffix), 0) << err.str();
    EXPECT_EQ(Read("doc"), content);
    content = suffix;
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
  EXPECT_EQ(DeepTree(dest), std::vector<std::string>{"good.txt"});
  // libarchive already reads RAR's "\\" as "/", so names are reported that way.
  for (const std::string& name :
       {std::string("../outside.txt"), std::string("ok/../../outside.txt"), absolute,
        std::string("C:/Windows/evil.txt")}) {
    EXPECT_NE(err.str().find("refused entry " + name + ":"), std::string::npos) << err.str();
  }
}

TEST_F(ExtractTest, ALinkOnDiskInTheDestinationLeadsNowhereOutside) {
  const fs::path elsewhere = dir.path() / "elsewhere";
  fs::create_directories(elsewhere);
  fs::create_directories(dest);
  fs::create_directory_symlink(elsewhere, dest / "disklink");
  // A link already in the destination is not followed (link entries: the tar
  // below).
  EXPECT_EQ(Run({{"disklink/evil.txt", "evil"}, {"doc", "doc"}}), 1);
  EXPECT_TRUE(fs::is_empty(elsewhere));
  EXPECT_EQ(Read("doc"), "doc");
  EXPECT_NE(err.str().find("refused entry disklink/evil.txt"), std::string::npos) << err.str();
}

// The classic ways out of an archive: a link to somewhere else, then a file
// written through it under the link's name; a hard link to a file outside,
// then data for it; a pipe that would block whoever reads it.
TEST_F(ExtractTest, LinksAndSpecialFilesInATarNeverReachOutside) {
  const fs::path outside = dir.path() / "outside";
  fs::create_directories(outside);
  fakes::WriteBytes((outside / "victim").string(), "untouched");
  fakes::WriteBytes(archive, MakeTar({{"sym", '2', outside.string()},
                                      {"sym/victim", '0', "evil"},
                                      {"hard", '1', (outside / "victim").string()},
                                      {"hard", '0', "evil"},
                                      {"rel", '1', "../outside/victim"},
                                      {"pipe", '6', ""},
                                      {"doc", '0', "doc"}}));
  EXPECT_EQ(extractor::RunExtractor({"X", "-o+", archive, dest.string()}, out, err), 0)
      << err.str();
  EXPECT_EQ(fakes::ReadBytes((outside / "victim").string()), "untouched");
  EXPECT_EQ(DeepTree(outside), std::vector<std::string>{"victim"});
  // No link was made: "sym" is a plain folder and "hard" a file of its own.
  EXPECT_EQ(DeepTree(dest), (std::vector<std::string>{"doc", "hard", "sym", "sym/victim"}));
  EXPECT_FALSE(fs::is_symlink(dest / "sym"));
  EXPECT_EQ(Read("sym/victim"), "evil");
  EXPECT_EQ(Read("hard"), "evil");
  EXPECT_EQ(fs::hard_link_count(dest / "hard"), 1u);
  for (const char* name : {"sym:", "hard:", "rel:", "pipe:"}) {
    EXPECT_NE(err.str().find(std::string("skipped entry ") + name), std::string::npos) << name;
  }
}

TEST_F(ExtractTest, UnreadableArchivesAreReportedByNameKeepingWhatCameBefore) {
  fs::create_directories(dest);
  fakes::WriteBytes((dest / "second").string(), "an earlier good copy");
  std::string badCrc = fakes::MakeRar4({{"doc", "0123456789"}});
  badCrc[7] ^= 0x55;  // main header CRC
  std::string truncated =
      fakes::MakeRar4({{"first", "complete"}, {"second", std::string(1000, 'x')}});
  truncated.resize(truncated.size() - 600);
  const struct {
    const char* name;
    std::string bytes;  // empty: no file at all
  } cases[] = {{"Missing", ""},
               {"NotAnArchive", "just some text, no archive here\n"},
               {"BadHeaderCrc", badCrc},
               {"Truncated", truncated}};  // last: its first entry is checked below
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = dir.File(c.name);
    if (!c.bytes.empty()) fakes::WriteBytes(path, c.bytes);
    std::ostringstream o, e;
    EXPECT_EQ(extractor::RunExtractor({"X", "-o+", path, dest.string()}, o, e), 1);
    EXPECT_NE(e.str().find(path), std::string::npos) << e.str();
  }
  EXPECT_EQ(Read("first"), "complete");
  // The entry cut off neither replaced the earlier copy nor left a partial file beside it.
  EXPECT_EQ(Read("second"), "an earlier good copy");
  EXPECT_EQ(DeepTree(dest), (std::vector<std::string>{"first", "second"}));
}

// libarchive passes stored RAR data through unchecked.
TEST_F(ExtractTest, StoredEntryFailingItsCrcRefusesTheArchiveNamingTheEntry) {
  std::string archiveBytes =
      fakes::MakeRar4({{"Show", "<sequence/>"}, {"media\\song.mp3", "ID3 and the song"}});
  const std::size_t song = archiveBytes.find("ID3 and the song");
  ASSERT_NE(song, std::string::npos);
  archiveBytes[song + 4] ^= 0x20;
  fakes::WriteBytes(archive, archiveBytes);

  EXPECT_EQ(extractor::RunExtractor({"X", "-o+", archive, dest.string()}, out, err), 1);
  EXPECT_NE(err.str().find("entry media/song.mp3 does not match its CRC"), std::string::npos)
      << err.str();
  EXPECT_NE(err.str().find(archive), std::string::npos) << err.str();
  EXPECT_TRUE(DeepTree(dest).empty());

  // The same archive whole passes the check.
  EXPECT_EQ(Run({{"Show", "<sequence/>"}, {"media\\song.mp3", "ID3 and the song"}}), 0)
      << err.str();
}

// A name the file system cannot take used to leave its data behind under the
// temporary name, deep in the destination, where fs::rename and fs::remove
// fail past PATH_MAX.
TEST_F(ExtractTest, EntriesTooLongForTheFileSystemLeaveNothingBehind) {
  std::string deep;
  for (int level = 0; level < 20; ++level) deep += std::string(250, 'd') + "/";  // past PATH_MAX
  const std::string tooLongName(300, 'n');                                       // past NAME_MAX
  const int code = Run({{tooLongName, "lost"},
                        {deep + tooLongName, "lost"},
                        {deep + "fits", "deep data"},
                        {"doc", "doc"}});
  const std::vector<std::string> tree = DeepTree(dest);
  EXPECT_EQ(code, 1) << err.str();
  for (const std::string& path : tree) {
    EXPECT_EQ(path.find(".glimmer-extract-partial"), std::string::npos) << path.size();
    EXPECT_EQ(path.find(tooLongName), std::string::npos) << path.size();
  }
  EXPECT_NE(std::find(tree.begin(), tree.end(), "doc"), tree.end());
  EXPECT_NE(err.str().find("refused entry " + tooLongName), std::string::npos) << err.str();
  DeepTree(dest, true);  // fs::remove_all cannot reach that deep
}

TEST_F(ExtractTest, DestinationBlockedByAFileIsReported) {
  fakes::WriteBytes(dest.string(), "a file, not a folder");
  EXPECT_EQ(Run({{"doc", "x"}}), 1);
  EXPECT_NE(err.str().find("Cannot create the destination folder " + dest.string()),
            std::string::npos)
      << err.str();
  EXPECT_EQ(fakes::ReadBytes(dest.string()), "a file, not a folder");
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
  for (const auto& [name, safe] :
       {std::pair{"a/b.txt", "a/b.txt"}, std::pair{"a\\b\\c", "a/b/c"}, std::pair{"./a//b/", "a/b"},
        std::pair{"a..b/..c", "a..b/..c"}, std::pair{".", ""}}) {
    const auto result = extractor::SafeEntryPath(name);
    ASSERT_TRUE(result.ok()) << name << ": " << result.message();
    EXPECT_EQ(result.value(), safe) << name;
  }
  for (const char* name : {"..", "a/../b", "/etc/passwd", "\\\\server\\share", "c:\\x", "C:x"}) {
    const auto result = extractor::SafeEntryPath(name);
    EXPECT_FALSE(result.ok()) << name;
    EXPECT_FALSE(result.message().empty());
  }
}

}  // namespace

namespace hostile {

// The RAR file header of the first entry: its offset in `bytes`.
std::size_t FirstFileHeader(const std::string& bytes) {
  const std::size_t mainHeader = 7;
  const auto mainSize = static_cast<unsigned char>(bytes[mainHeader + 5]) |
                        static_cast<unsigned char>(bytes[mainHeader + 6]) << 8;
  return mainHeader + static_cast<std::size_t>(mainSize);
}

void PutLittle32(std::string& bytes, std::size_t at, std::uint32_t value) {
  for (int i = 0; i < 4; ++i)
    bytes[at + static_cast<std::size_t>(i)] = static_cast<char>(value >> (8 * i));
}

}  // namespace hostile

// A packed size near 2^64 made the offset wrap back onto the same header,
// and the extractor looped at full CPU for ever.
TEST_F(ExtractTest, HeaderSizesPastTheFileAreRefusedRatherThanWrapping) {
  std::string bytes = fakes::MakeRar4({{"abcdefghijkl", "x"}});
  const std::size_t header = hostile::FirstFileHeader(bytes);
  ASSERT_EQ(bytes[header + 2], '\x74');
  const auto headSize =
      static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[header + 5]) |
                                 static_cast<unsigned char>(bytes[header + 6]) << 8);
  const struct {
    const char* name;
    std::uint32_t low, high;
  } cases[] = {
      {"WrapsToTheSameHeader", 0u - headSize, 0xFFFFFFFFu},  // header + data = 2^64
      {"HighWordOnly", 0, 1},
      {"LowWordPastTheEnd", 0x7FFFFFFF, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::string lying = bytes;
    lying[header + 4] = static_cast<char>(lying[header + 4] | 0x01);  // large sizes (flag 0x100)
    hostile::PutLittle32(lying, header + 7, c.low);
    hostile::PutLittle32(lying, header + 32, c.high);
    fakes::WriteBytes(archive, lying);
    std::ostringstream o, e;
    EXPECT_EQ(extractor::RunExtractor({"X", "-o+", archive, dest.string()}, o, e), 1);
    EXPECT_NE(e.str().find("Cannot read the archive " + archive), std::string::npos) << e.str();
  }
}

TEST_F(ExtractTest, BombsStopAtTheirLimitNamingTheEntryAndRemovingWhatWasWritten) {
  extractor::Limits limits;
  limits.documentName = "Show";
  limits.documentBytes = 1000;
  limits.entryBytes = 100;
  limits.archiveBytes = 1500;
  const std::string doc(1000, 'd'), pic(100, 'p');
  const struct {
    const char* name;
    std::vector<RarEntry> entries;
    std::string said;  // empty: extracts
  } cases[] = {
      {"DocumentMayBeLargerThanOthers", {{"Show", doc}, {"pic", pic}}, ""},
      {"OneEntryPastItsLimit",
       {{"pic", pic}, {"big", pic + "!"}},
       "entry big unpacks to more than the limit of 100 bytes for one entry"},
      {"DocumentPastItsLimit",
       {{"Show", doc + "!"}},
       "entry Show unpacks to more than the limit of 1000 bytes for the sequence document"},
      {"DocumentNameCountsAtTheTopOnly",
       {{"media/Show", doc}},
       "entry media/Show unpacks to more than the limit of 100 bytes for one entry"},
      {"WholeArchivePastItsLimit",
       {{"Show", doc}, {"a", pic}, {"b", pic}, {"c", pic}, {"d", pic}, {"e", pic}, {"f", pic}},
       "entry f unpacks to more than the limit of 1500 bytes for the whole archive"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove_all(dest);
    fakes::WriteRar4(archive, c.entries);
    std::ostringstream log;
    const auto result = extractor::ExtractArchive(archive, dest.string(), log, limits);
    if (c.said.empty()) {
      EXPECT_TRUE(result.ok()) << result.message();
      continue;
    }
    ASSERT_FALSE(result.ok());
    EXPECT_NE(result.message().find(c.said), std::string::npos) << result.message();
    EXPECT_NE(result.message().find("removed what it wrote"), std::string::npos);
    for (const std::string& path : DeepTree(dest)) {
      EXPECT_TRUE(fs::is_directory(dest / path)) << path << " was left behind";
    }
  }
  EXPECT_EQ(extractor::DocumentNameOf("/a/Xmas.2024.msq"), "Xmas.2024");
  EXPECT_EQ(extractor::DocumentNameOf("C:\\S\\c.msq"), "c");
}

// On a full disk libarchive only warned, the file kept a tail of zeros and
// the extractor said "1 files ... extracted". A file size limit makes the
// write fail the same way in a child process.
TEST_F(ExtractTest, AFailedWriteIsAFailureAndLeavesNoFile) {
  fakes::WriteRar4(archive, {{"small", "fits"}, {"Show", std::string(64 * 1024, 'x')}});
  const auto [code, said] = fakes::RunInChild([&](std::string& said) {
    signal(SIGXFSZ, SIG_IGN);
    const rlimit cap{16 * 1024, 16 * 1024};
    setrlimit(RLIMIT_FSIZE, &cap);
    std::ostringstream o, e;
    const int code = extractor::RunExtractor({"X", "-o+", archive, dest.string()}, o, e);
    said = e.str() + o.str();
    return code;
  });
  EXPECT_EQ(code, 1) << said;
  EXPECT_NE(said.find("Cannot extract Show from the archive " + archive + ": writing it failed"),
            std::string::npos)
      << said;
  EXPECT_EQ(said.find("extracted"), std::string::npos) << said;
  EXPECT_EQ(DeepTree(dest), std::vector<std::string>{"small"});
}

TEST_F(ExtractTest, LeftoversOfAKilledExtractorAreClearedButNotThoseOfARunningOne) {
  const std::string dead = ".glimmer-extract-partial-" + std::to_string(fakes::EndedProcessId());
  const std::string running = ".glimmer-extract-partial-" + std::to_string(getppid());
  fs::create_directories(dest / "media");
  for (const std::string& name : {dead, dead + "-2", std::string(".glimmer-extract-partial"),
                                  running, std::string("keep.txt")}) {
    fakes::WriteBytes((dest / name).string(), "1.3 GB once");
  }
  fakes::WriteBytes((dest / "media" / dead).string(), "deeper");
  EXPECT_EQ(Run({{"doc", "x"}}), 0) << err.str();
  EXPECT_EQ(DeepTree(dest), (std::vector<std::string>{running, "doc", "keep.txt", "media"}));
}

TEST(ExtractorProgram, EndsWithItsParent) {
  EXPECT_EQ(fakes::RunInChild([](std::string&) {
              const bool parentThere = extractor::EndWithParent();
              int signal = 0;
              prctl(PR_GET_PDEATHSIG, &signal);
              return parentThere && signal == SIGTERM ? 0 : 1;
            }).exitCode,
            0);
}

// Names with terminal escapes, line breaks or bytes that are not UTF-8
// could forge lines of the report the import quotes. A name stored without
// its Unicode form, in the Windows code page, comes out as UTF-8: the import
// looks for the archive's own name in UTF-8.
TEST_F(ExtractTest, EntryNamesAreShownEscapedAndCodePageNamesComeOutAsUtf8) {
  const std::string previous = std::setlocale(LC_CTYPE, nullptr);
  // Debian's C library always has this locale.
  ASSERT_NE(std::setlocale(LC_CTYPE, "C.UTF-8"), nullptr);
  const int code = Run({{"..\\\x1B[2J\nglimmer-extract: 9 files", "x"},
                        fakes::RarSymlink("link\x1B]0;title\x07\r", "target"),
                        {"No\xEBl", "<sequence/>"}});
  std::setlocale(LC_CTYPE, previous.c_str());
  EXPECT_EQ(code, 1);
  EXPECT_NE(err.str().find("refused entry ../\\x1B[2J\\x0Aglimmer-extract: 9 files"),
            std::string::npos)
      << err.str();
  const std::string said = err.str();
  EXPECT_NE(said.find("skipped entry link\\x1B]0;title\\x07\\x0D"), std::string::npos) << said;
  EXPECT_EQ(said.find('\x1B'), std::string::npos);
  EXPECT_EQ(said.find('\r'), std::string::npos);
  // One line per refused or skipped entry, nothing forged.
  EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 2) << said;
  EXPECT_EQ(DeepTree(dest), std::vector<std::string>{"No\xC3\xABl"});
}
