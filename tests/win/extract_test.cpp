// The extractor on Windows: what Windows reads into a name (trailing dots,
// streams, devices) is refused, and what it unpacks arrives byte for byte,
// also below a folder named beyond ASCII.
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "platform/utf8_path.h"
#include "tests/fakes/rar_writer.h"
#include "tests/fakes/temp_dir.h"
#include "tools/extractor/extract.h"

namespace {

namespace fs = std::filesystem;
using fakes::RarEntry;

TEST(WindowsEntryNames, AreRefusedWhereWindowsReadsMoreIntoThem) {
  struct Case {
    const char* name;
    const char* safe;    // the path written, when accepted
    const char* reason;  // the refusal, when refused
  };
  const Case cases[] = {
      {"Shows\\Xmas.xml", "Shows/Xmas.xml", nullptr},
      {"a/./b.txt", "a/b.txt", nullptr},
      {"songs/console.wav", "songs/console.wav", nullptr},
      // Windows reads the name before the first dot: still the console.
      {"songs/con.cert.wav", nullptr, "its name is the Windows device con"},
      {".. /evil.txt", nullptr, "its path leads out of the destination (\"..\")"},
      {"a/.../evil.txt", nullptr, "its path leads out of the destination (\"..\")"},
      {"a/.. . /evil.txt", nullptr, "its path leads out of the destination (\"..\")"},
      {"show.xml:hidden", nullptr, "its name holds a \":\", which Windows reads as a stream"},
      {"C:evil.txt", nullptr, "it names a drive"},
      {"con", nullptr, "its name is the Windows device con"},
      {"Temp/NUL.txt", nullptr, "its name is the Windows device NUL"},
      {"COM3/x", nullptr, "its name is the Windows device COM3"},
      {"lpt1 .wav", nullptr, "its name is the Windows device lpt1"},
  };
  for (const Case& c : cases) {
    const auto safe = extractor::SafeEntryPath(c.name);
    if (c.safe != nullptr) {
      ASSERT_TRUE(safe.ok()) << c.name << ": " << safe.message();
      EXPECT_EQ(safe.value(), c.safe) << c.name;
    } else {
      ASSERT_FALSE(safe.ok()) << c.name;
      EXPECT_EQ(safe.message(), c.reason) << c.name;
    }
  }
}

class WindowsExtractTest : public ::testing::Test {
 protected:
  fakes::TempDir dir;
  std::string archive = dir.File("show.msq");
  std::ostringstream out, err;

  std::string Destination(const std::string& utf8Name) const {
    return platform::PathText(dir.path() / platform::FilePath(utf8Name));
  }
  int Run(const std::vector<RarEntry>& entries, const std::string& destination) {
    fakes::WriteRar4(archive, entries);
    return extractor::RunExtractor({"X", "-o+", archive, destination}, out, err);
  }
};

TEST_F(WindowsExtractTest, UnpacksByteForByteBelowANonAsciiFolder) {
  const std::string binary("RIFF\0\r\n\x1a\xff", 9);
  const std::string destination = Destination("Z\xc3\xbcrich \xe2\x80\x93 Temp");
  ASSERT_EQ(Run({{"Show.xml", "<Sequence/>\r\n"}, {"audio\\song.wav", binary}}, destination), 0)
      << err.str();
  EXPECT_EQ(fakes::ReadBytes(destination + "\\Show.xml"), "<Sequence/>\r\n");
  EXPECT_EQ(fakes::ReadBytes(destination + "\\audio\\song.wav"), binary);
  EXPECT_EQ(out.str(), "glimmer-extract: 2 files and 0 folders extracted to " + destination + "\n");
}

TEST_F(WindowsExtractTest, RefusedEntriesLeaveNothingBehindAndFailTheRun) {
  const std::string destination = Destination("Temp");
  ASSERT_EQ(Run({{"good.txt", "kept"},
                 {"nul.txt", "gone"},
                 {".. /outside.txt", "gone"},
                 {"good.txt:stream", "gone"}},
                destination),
            1);
  EXPECT_EQ(fakes::ReadBytes(destination + "\\good.txt"), "kept");
  EXPECT_FALSE(fs::exists(dir.path() / "outside.txt"));
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(platform::FilePath(destination))) {
    names.push_back(platform::PathText(entry.path().filename()));
  }
  EXPECT_EQ(names, std::vector<std::string>{"good.txt"});
  EXPECT_NE(err.str().find("refused entry nul.txt: its name is the Windows device nul"),
            std::string::npos)
      << err.str();
  EXPECT_EQ(out.str(), "glimmer-extract: 1 files and 0 folders extracted to " + destination +
                           ", 3 entries refused\n");
}

}  // namespace
