#include "tools/extractor/extract.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <clocale>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "platform/posix/posix_process_launcher.h"
#include "tests/fakes/rar_writer.h"
#include "tests/fakes/run_program.h"
#include "tests/fakes/script_file.h"
#include "tests/fakes/temp_dir.h"

namespace {

namespace fs = std::filesystem;
using fakes::RarEntry;

// Every path below the folder `fd` (closed here) with its file's bytes
// (kFolder for a folder), found through descriptors so that paths past
// PATH_MAX are seen too; `remove` deletes them on the way out.
using Tree = std::map<std::string, std::string>;
const std::string kFolder = "(folder)";

void Walk(int fd, const std::string& prefix, Tree& tree, bool remove) {
  DIR* dir = fdopendir(fd);
  if (dir == nullptr) return;
  std::vector<std::string> names;
  while (const dirent* e = readdir(dir)) {
    if (std::string(e->d_name) != "." && std::string(e->d_name) != "..") names.push_back(e->d_name);
  }
  for (const std::string& name : names) {
    struct stat st {};
    fstatat(fd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW);
    const int child = openat(fd, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK);
    std::string& bytes = tree[prefix + name];
    if (S_ISDIR(st.st_mode)) {
      bytes = kFolder;
      Walk(child, prefix + name + "/", tree, remove);
    } else {
      char buffer[4096];
      for (ssize_t n; (n = read(child, buffer, sizeof buffer)) > 0;) bytes.append(buffer, n);
      close(child);
    }
    if (remove) unlinkat(fd, name.c_str(), S_ISDIR(st.st_mode) ? AT_REMOVEDIR : 0);
  }
  closedir(dir);
}

Tree DeepTree(const fs::path& root, bool remove = false) {
  Tree tree;
  Walk(open(root.c_str(), O_RDONLY | O_DIRECTORY), "", tree, remove);
  return tree;
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
    put(257, 8, std::string("ustar\00000", 8));  // magic "ustar", NUL, version "00"
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
    return Extract(destination);
  }
  int Extract(const std::string& destination) {
    return extractor::RunExtractor({"X", "-o+", archive, destination}, out, err);
  }
  bool Said(const std::string& text) const { return err.str().find(text) != std::string::npos; }
};

TEST_F(ExtractTest, ExtractsNestedFilesAndFoldersWithTheirStoredPaths) {
  const fs::path workingDirectory = fs::current_path();
  const std::string binary("ID3\0\1\2", 6);
  // Shows\Empty is a folder entry.
  const std::vector<RarEntry> entries = {
      {"Xmas.2024", "<sequence/>"}, {"audio/song.mp3", binary},         {"a/b/c/deep.txt", "deep"},
      {"Shows\\Empty", "", true},   {"Shows\\Audio\\song.wav", "RIFF"}, {".\\top.txt", "top"}};
  ASSERT_EQ(Run(entries), 0) << err.str();
  const Tree extracted = {
      {"Shows", kFolder},       {"Shows/Audio", kFolder},     {"Shows/Audio/song.wav", "RIFF"},
      {"Shows/Empty", kFolder}, {"Xmas.2024", "<sequence/>"}, {"a", kFolder},
      {"a/b", kFolder},         {"a/b/c", kFolder},           {"a/b/c/deep.txt", "deep"},
      {"audio", kFolder},       {"audio/song.mp3", binary},   {"top.txt", "top"}};
  EXPECT_EQ(DeepTree(dest), extracted);
  EXPECT_EQ(err.str(), "");
  EXPECT_EQ(fs::current_path(), workingDirectory);
}

TEST_F(ExtractTest, CreatesTheDestinationOverwritesAndTakesAnySeparatorAtItsEnd) {
  EXPECT_FALSE(fs::exists(dest));
  std::string content = "a much longer first version";
  for (const char* suffix : {"", "/", "\\", "//"}) {
    SCOPED_TRACE(suffix);
    ASSERT_EQ(Run({{"doc", content}}, dest.string() + suffix), 0) << err.str();
    EXPECT_EQ(DeepTree(dest), (Tree{{"doc", content}}));
    content = suffix;
  }
}

TEST_F(ExtractTest, EntriesLeavingTheDestinationAreRefusedAndTheRestExtracted) {
  const std::string absolute = dir.File("absolute.txt");
  fs::create_directories(dir.path() / "elsewhere");
  fs::create_directories(dest);
  // A link already in the destination is not followed (link entries: the tar
  // below).
  fs::create_directory_symlink(dir.path() / "elsewhere", dest / "disklink");
  const std::vector<RarEntry> entries = {
      {"../outside.txt", "evil"}, {"ok/../../outside.txt", "evil"},  {"..\\outside.txt", "evil"},
      {absolute, "evil"},         {"C:\\Windows\\evil.txt", "evil"}, {"disklink/evil.txt", "evil"},
      {"good.txt", "good"}};
  EXPECT_EQ(Run(entries), 1);
  EXPECT_EQ(DeepTree(dir.path()), (Tree{{"Temp", kFolder},
                                        {"Temp/disklink", ""},
                                        {"Temp/good.txt", "good"},
                                        {"elsewhere", kFolder},
                                        {"show.msq", fakes::ReadBytes(archive)}}));
  // libarchive already reads RAR's "\\" as "/", so names are reported that way.
  for (const std::string& name :
       {std::string("../outside.txt"), std::string("ok/../../outside.txt"), absolute,
        std::string("C:/Windows/evil.txt"), std::string("disklink/evil.txt")}) {
    EXPECT_TRUE(Said("refused entry " + name + ":")) << err.str();
  }
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
  EXPECT_EQ(Extract(dest.string()), 0) << err.str();
  EXPECT_EQ(DeepTree(outside), (Tree{{"victim", "untouched"}}));
  // No link was made: "sym" is a plain folder and "hard" a file of its own.
  EXPECT_EQ(DeepTree(dest),
            (Tree{{"doc", "doc"}, {"hard", "evil"}, {"sym", kFolder}, {"sym/victim", "evil"}}));
  EXPECT_EQ(fs::hard_link_count(dest / "hard"), 1u);
  for (const char* name : {"sym:", "hard:", "rel:", "pipe:"}) {
    EXPECT_TRUE(Said(std::string("skipped entry ") + name)) << name;
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
  // The entry cut off neither replaced the earlier copy nor left a partial file beside it.
  EXPECT_EQ(DeepTree(dest), (Tree{{"first", "complete"}, {"second", "an earlier good copy"}}));
}

// libarchive passes stored RAR data through unchecked.
TEST_F(ExtractTest, StoredEntryFailingItsCrcRefusesTheArchiveNamingTheEntry) {
  const std::vector<RarEntry> entries = {{"Show", "<sequence/>"},
                                         {"media\\song.mp3", "ID3 and the song"}};
  std::string archiveBytes = fakes::MakeRar4(entries);
  const std::size_t song = archiveBytes.find("ID3 and the song");
  ASSERT_NE(song, std::string::npos);
  archiveBytes[song + 4] ^= 0x20;
  fakes::WriteBytes(archive, archiveBytes);

  EXPECT_EQ(Extract(dest.string()), 1);
  EXPECT_TRUE(Said("entry media/song.mp3 does not match its CRC")) << err.str();
  EXPECT_TRUE(Said(archive)) << err.str();
  EXPECT_TRUE(DeepTree(dest).empty());

  // The same archive whole passes the check.
  EXPECT_EQ(Run(entries), 0) << err.str();
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
  const Tree tree = DeepTree(dest);
  EXPECT_EQ(code, 1) << err.str();
  for (const auto& [path, bytes] : tree) {
    EXPECT_EQ(path.find(".glimmer-extract-partial"), std::string::npos) << path.size();
    EXPECT_EQ(path.find(tooLongName), std::string::npos) << path.size();
  }
  EXPECT_EQ(tree.at("doc"), "doc");
  EXPECT_TRUE(Said("refused entry " + tooLongName)) << err.str();
  DeepTree(dest, true);  // fs::remove_all cannot reach that deep
}

TEST_F(ExtractTest, DestinationBlockedByAFileIsReported) {
  fakes::WriteBytes(dest.string(), "a file, not a folder");
  EXPECT_EQ(Run({{"doc", "x"}}), 1);
  EXPECT_TRUE(Said("Cannot create the destination folder " + dest.string())) << err.str();
  EXPECT_EQ(fakes::ReadBytes(dest.string()), "a file, not a folder");
}

TEST(ExtractorCommandLine, WrongCommandLinesGiveUsageAndExitTwo) {
  const std::vector<std::vector<std::string>> lines = {{},
                                                       {"X", "-o+", "a.msq"},
                                                       {"X", "-o+", "a.msq", "dest", "extra"},
                                                       {"E", "-o+", "a.msq", "dest"},
                                                       {"X", "-o-", "a.msq", "dest"},
                                                       {"X", "-o+", "", "dest"},
                                                       {"X", "-o+", "a.msq", ""}};
  for (const auto& args : lines) {
    std::ostringstream out, err;
    EXPECT_EQ(extractor::RunExtractor(args, out, err), 2) << ::testing::PrintToString(args);
    EXPECT_NE(err.str().find("Usage: glimmer-extract X -o+ <archive> <destination folder>"),
              std::string::npos);
  }
}

// Asked by a person, help and version are answers, not mistakes.
TEST(ExtractorCommandLine, HelpAndVersionGoToStandardOutputAndExitZero) {
  for (const auto& [option, said] : {std::pair{"--help", "Usage: glimmer-extract X -o+"},
                                     std::pair{"-h", "Usage: glimmer-extract X -o+"},
                                     std::pair{"--version", "glimmer-extract " GLIMMER_VERSION}}) {
    std::ostringstream out, err;
    EXPECT_EQ(extractor::RunExtractor({option}, out, err), 0) << option;
    EXPECT_EQ(out.str().rfind(said, 0), 0u) << option << ": " << out.str();
    EXPECT_EQ(err.str(), "") << option;
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

// A packed size near 2^64 made the offset wrap back onto the same header,
// and the extractor looped at full CPU for ever.
TEST_F(ExtractTest, HeaderSizesPastTheFileAreRefusedRatherThanWrapping) {
  const std::string bytes = fakes::MakeRar4({{"abcdefghijkl", "x"}});
  const auto u8 = [&](std::size_t at) { return static_cast<std::uint32_t>(uint8_t(bytes[at])); };
  // The first entry's header follows the marker (7 bytes) and the main header.
  const std::size_t header = 7 + (u8(7 + 5) | u8(7 + 6) << 8);
  ASSERT_EQ(bytes[header + 2], '\x74');
  const std::uint32_t headSize = u8(header + 5) | u8(header + 6) << 8;
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
    for (int i = 0; i < 4; ++i) {
      lying[header + 7 + i] = static_cast<char>(c.low >> (8 * i));
      lying[header + 32 + i] = static_cast<char>(c.high >> (8 * i));
    }
    fakes::WriteBytes(archive, lying);
    err.str("");
    EXPECT_EQ(Extract(dest.string()), 1);
    EXPECT_TRUE(Said("Cannot read the archive " + archive)) << err.str();
  }
}

TEST_F(ExtractTest, BombsStopAtTheirLimitNamingTheEntryAndRemovingWhatWasWritten) {
  const extractor::Limits limits{
      .documentBytes = 1000, .documentName = "Show", .entryBytes = 100, .archiveBytes = 1500};
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
    for (const auto& [path, bytes] : DeepTree(dest)) {
      EXPECT_EQ(bytes, kFolder) << path << " was left behind";
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
    const int code = Extract(dest.string());
    said = err.str() + out.str();
    return code;
  });
  EXPECT_EQ(code, 1) << said;
  EXPECT_NE(said.find("Cannot extract Show from the archive " + archive + ": writing it failed"),
            std::string::npos)
      << said;
  EXPECT_EQ(said.find("extracted"), std::string::npos) << said;
  EXPECT_EQ(DeepTree(dest), (Tree{{"small", "fits"}}));
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
  EXPECT_EQ(DeepTree(dest), (Tree{{running, "1.3 GB once"},
                                  {"doc", "x"},
                                  {"keep.txt", "1.3 GB once"},
                                  {"media", kFolder}}));
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
  const std::string said = err.str();
  EXPECT_TRUE(Said("refused entry ../\\x1B[2J\\x0Aglimmer-extract: 9 files")) << said;
  EXPECT_TRUE(Said("skipped entry link\\x1B]0;title\\x07\\x0D")) << said;
  EXPECT_EQ(said.find('\x1B'), std::string::npos);
  EXPECT_EQ(said.find('\r'), std::string::npos);
  // One line per refused or skipped entry, nothing forged.
  EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 2) << said;
  EXPECT_EQ(DeepTree(dest), (Tree{{"No\xC3\xABl", "<sequence/>"}}));
}

// The launcher that runs the archiver for the import.
// Of what a program said on its error output, the end is kept: past the
// limit, the words that matter come last.
TEST(PosixProcessLauncher, ReturnsTheExitCodePassesArgumentsVerbatimAndKeepsTheEndOfErrorOutput) {
  fakes::TempDir dir;
  const std::string reporter = dir.File("report");
  const std::string out = dir.File("out.txt");
  fakes::WriteArgumentReporter(reporter, 42);
  const std::string talker = dir.File("talker");
  fakes::WriteScript(talker,
                     "head -c 10000 /dev/zero | tr '\\0' x >&2; echo >&2; "
                     "echo 'entry a.wav does not match its CRC' >&2; exit 2");
  const struct {
    std::vector<std::string> argv;
    int code;
  } cases[] = {{{"/bin/true"}, 0},
               {{"/bin/false"}, 1},
               {{"true"}, 0},  // found on the PATH
               {{reporter, out, "a b", "", "\"q\"", "C:\\App\\Temp\\", "$HOME", "*"}, 42},
               {{talker}, 2}};
  platform::PosixProcessLauncher launcher;
  for (const auto& c : cases) {
    const auto result = launcher.Run(c.argv);
    ASSERT_TRUE(result.ok()) << c.argv[0] << ": " << result.message();
    EXPECT_EQ(result.value(), c.code) << c.argv[0];
  }
  EXPECT_EQ(fakes::ReadBytes(out), "[a b]\n[]\n[\"q\"]\n[C:\\App\\Temp\\]\n[$HOME]\n[*]\n");
  const std::string said = launcher.LastErrorOutput();
  EXPECT_LE(said.size(), 4096u);
  EXPECT_NE(said.find("xxxx\nentry a.wav does not match its CRC\n"), std::string::npos) << said;
  ASSERT_TRUE(launcher.Run({"/bin/true"}).ok());
  EXPECT_EQ(launcher.LastErrorOutput(), "");
}

TEST(PosixProcessLauncher, ProgramThatCannotStartOrDiesBySignalIsAnErrorNamingIt) {
  fakes::TempDir dir;
  const std::string notExecutable = dir.File("plain.txt");
  const std::string killer = dir.File("killself");
  fakes::WriteBytes(notExecutable, "not a program");
  fakes::WriteScript(killer, "kill -KILL $$");
  const struct {
    std::string program;
    const char* reason;
  } cases[] = {{dir.File("missing"), ""},
               {notExecutable, ""},
               {"glimmer-no-such-program", ""},
               {killer, "signal 9"}};
  platform::PosixProcessLauncher launcher;
  for (const auto& c : cases) {
    const auto result = launcher.Run({c.program, "x"});
    ASSERT_FALSE(result.ok()) << c.program;
    EXPECT_NE(result.message().find(c.program), std::string::npos) << result.message();
    EXPECT_NE(result.message().find(c.reason), std::string::npos) << result.message();
  }
  EXPECT_FALSE(launcher.Run({}).ok());
}

// An archiver that never ends used to freeze the import for ever: the
// caller is asked while it runs, and its answer ends it.
TEST(PosixProcessLauncher, AWatchedProgramIsEndedWhenTheCallerStopsWaiting) {
  fakes::TempDir dir;
  const std::string quiet = dir.File("quiet");
  fakes::WriteScript(quiet, "exec 2>&-\nexec sleep 1000");
  const struct {
    const char* name;
    std::vector<std::string> argv;
  } cases[] = {{"ErrorOutputOpen", {"sleep", "1000"}}, {"ErrorOutputClosed", {quiet}}};
  platform::PosixProcessLauncher launcher;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    int asked = 0;
    const auto result = launcher.RunWatched(c.argv, [&] { return ++asked < 3; });
    ASSERT_FALSE(result.ok());
    EXPECT_NE(result.message().find("was stopped before it ended"), std::string::npos)
        << result.message();
    EXPECT_EQ(asked, 3);
  }
  // A program that ends by itself is not disturbed.
  int asked = 0;
  const auto done = launcher.RunWatched({"/bin/false"}, [&] { return ++asked > 0; });
  ASSERT_TRUE(done.ok()) << done.message();
  EXPECT_EQ(done.value(), 1);
}

}  // namespace
