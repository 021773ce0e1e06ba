// The Windows file layer under Wine: devices and pipes named the Windows
// way, atomic saves, the one-reader rule, the show lock, the show log and
// file names beyond ASCII.
#include <windows.h>
#undef ReplaceFile

#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <string>

#include "platform/file_store.h"
#include "platform/log_file.h"
#include "platform/paths.h"
#include "platform/show_lock.h"
#include "platform/utf8_path.h"
#include "platform/win/wide_text.h"
#include "platform/win/win_file_store.h"
#include "tests/fakes/temp_dir.h"

namespace {

namespace fs = std::filesystem;
using platform::FileKind;
using platform::win::Narrow;
using platform::win::Widen;

// Bytes of a file read with the wide call, whatever the code page.
std::string ReadWide(const std::string& path) {
  HANDLE file = CreateFileW(Widen(path).c_str(), GENERIC_READ,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return "(cannot open)";
  std::string bytes(1 << 16, '\0');
  DWORD got = 0;
  ReadFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &got, nullptr);
  CloseHandle(file);
  bytes.resize(got);
  return bytes;
}

std::string In(const fakes::TempDir& dir, const std::string& name) {
  return Narrow(dir.path().wstring()) + "\\" + name;
}

TEST(WindowsDeviceNames, AreDevicesOrPipesWhereverTheyStand) {
  struct Case {
    const char* path;
    std::optional<FileKind> kind;
  };
  const Case cases[] = {
      {"NUL", FileKind::Device},
      {"nul.txt", FileKind::Device},
      {"C:\\shows\\Con.csq", FileKind::Device},
      {"COM1", FileKind::Device},
      {"c:/x/lpt9", FileKind::Device},
      {"com3 .wav", FileKind::Device},
      {"CONOUT$", FileKind::Device},
      {"\\\\.\\COM12", FileKind::Device},
      {"\\\\.\\PhysicalDrive0", FileKind::Device},
      {"\\\\.\\pipe\\show", FileKind::Pipe},
      {"//./pipe/show", FileKind::Pipe},
      {"\\\\?\\GLOBALROOT\\Device\\Null", FileKind::Device},
      // Ordinary files, however close their names come.
      {"\\\\?\\C:\\shows\\song.wav", std::nullopt},
      {"\\\\?\\UNC\\server\\share\\a.csq", std::nullopt},
      {"COM0", std::nullopt},
      {"COM10", std::nullopt},
      {"console.txt", std::nullopt},
      {"C:\\nul\\song.wav", std::nullopt},
      {"playlist.txt", std::nullopt},
      {"", std::nullopt},
  };
  for (const Case& c : cases) EXPECT_EQ(platform::WindowsDeviceKind(c.path), c.kind) << c.path;
}

TEST(WindowsDeviceNames, AreRefusedBeforeOpening) {
  fakes::TempDir dir;
  platform::WinFileStore store;
  struct Case {
    std::string path;
    std::string reason;
  };
  const Case cases[] = {
      {"NUL", "it is a device, not a file"},
      {In(dir, "aux.txt"), "it is a device, not a file"},
      {"\\\\.\\pipe\\glimmer-none", "it is a pipe, not a file"},
      {Narrow(dir.path().wstring()), "it is a folder, not a file"},
      {In(dir, "missing.txt"), "the file does not exist"},
  };
  for (const Case& c : cases) {
    auto read = store.ReadWholeFile(c.path, 1024);
    ASSERT_FALSE(read.ok()) << c.path;
    EXPECT_EQ(read.message(), c.reason) << c.path;
  }
  EXPECT_EQ(platform::CheckOpenableFile("COM1").message(), "\"COM1\": it is a device, not a file");
}

TEST(WinFileStore, ReplacesWholeFilesAndLeavesNoTemporary) {
  fakes::TempDir dir;
  platform::WinFileStore store;
  const std::string path = In(dir, "playlist.txt");
  // Saved twice: the second replaces an existing file, which rename-style
  // moves refuse unless told to replace.
  for (const char* bytes : {"first\r\n", "second, longer\r\n"}) {
    ASSERT_TRUE(store.ReplaceFile(path, bytes).ok());
    EXPECT_EQ(ReadWide(path), bytes);
  }
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 1);

  auto read = store.ReadWholeFile(path, 6);
  ASSERT_FALSE(read.ok());
  EXPECT_EQ(read.message(), platform::LargerThanMessage(6));
  ASSERT_TRUE(store.ReadWholeFile(path, 1024).ok());
  EXPECT_EQ(store.ReadWholeFile(path, 1024).value(), "second, longer\r\n");
}

TEST(WinFileStore, SaveIntoAMissingFolderSaysWhere) {
  fakes::TempDir dir;
  platform::WinFileStore store;
  const std::string path = In(dir, "gone\\playlist.txt");
  const platform::Status saved = store.ReplaceFile(path, "x");
  ASSERT_FALSE(saved.ok());
  EXPECT_EQ(saved.message().rfind("Cannot create a file beside " + path + ": ", 0), 0u)
      << saved.message();
}

// Names beyond ASCII reach the file system as the same characters: the
// program's UTF-8 through the wide calls, and its narrow calls through the
// UTF-8 code page its manifest asks for.
TEST(NonAsciiFileNames, KeepTheirCharactersEveryWay) {
  fakes::TempDir dir;
  platform::WinFileStore store;
  const std::wstring wideName = L"Stille Nacht \u2013 K\u00f6ln \u96ea.csq";
  const std::string name = Narrow(wideName);
  const std::string path = In(dir, name);
  ASSERT_TRUE(store.ReplaceFile(path, "bytes").ok());

  EXPECT_EQ(fs::directory_iterator(dir.path())->path().filename().wstring(), wideName);
  EXPECT_EQ(store.ReadWholeFile(path, 100).value(), "bytes");
  EXPECT_EQ(platform::KindOfPath(path), FileKind::Regular);
  EXPECT_EQ(platform::FilePath(name).wstring(), wideName);
  EXPECT_EQ(platform::PathText(platform::FilePath(path)), path);
  EXPECT_EQ(GetACP(), static_cast<UINT>(CP_UTF8));
  EXPECT_EQ(fakes::ReadBytes(path), "bytes");
}

TEST(WideText, RoundTripsAndReplacesWhatIsNotUtf8) {
  const std::string texts[] = {"", "COM3", "K\xc3\xb6ln \xe2\x80\x93 \xf0\x9f\x8e\x84"};
  for (const std::string& text : texts) EXPECT_EQ(Narrow(Widen(text)), text);
  EXPECT_EQ(Widen("a\xff"
                  "b"),
            L"a\ufffdb");
  // The system's own words (Wine's differ from Windows'), without the line
  // end and full stop that would break the sentence they are put into.
  const std::string message = platform::win::SystemMessage(ERROR_FILE_NOT_FOUND);
  ASSERT_FALSE(message.empty());
  EXPECT_EQ(message.find("system error"), std::string::npos) << message;
  EXPECT_NE(message.back(), '.');
  EXPECT_NE(message.back(), '\n');
}

TEST(WinShowLock, OneShowPerFolderUntilItsLockGoes) {
  fakes::TempDir dir;
  const std::string folder = Narrow(dir.path().wstring());
  auto first = platform::TakeShowLock(folder, "glimmer show");
  ASSERT_TRUE(first.ok()) << first.message();
  const std::string holder = ReadWide(In(dir, platform::kShowLockName));
  EXPECT_EQ(holder, std::to_string(GetCurrentProcessId()) + " glimmer show\n");
  // This process holds it: not another show.
  EXPECT_EQ(platform::OtherShowOnFolder(folder), std::nullopt);

  auto second = platform::TakeShowLock(folder, "the player window");
  ASSERT_FALSE(second.ok());
  EXPECT_EQ(second.message(), "A show already runs on the folder " + folder + ": process " +
                                  std::to_string(GetCurrentProcessId()) + " (glimmer show) holds " +
                                  In(dir, platform::kShowLockName) + ".");

  first.value().reset();
  EXPECT_TRUE(platform::TakeShowLock(folder, "the player window").ok());
}

TEST(WinLogFile, AppendsLinesAndMovesFullFilesAlong) {
  fakes::TempDir dir;
  const std::string path = In(dir, "show.log");
  auto log = platform::MakeLogFile(path, 20);
  // 12 bytes a line: every line after the first starts a new file.
  for (int night = 1; night <= platform::kLogGenerations + 3; ++night) {
    ASSERT_TRUE(log->AppendLine("night " + std::to_string(night) + "   ").ok());
  }
  const int last = platform::kLogGenerations + 3;
  EXPECT_EQ(ReadWide(path), "night " + std::to_string(last) + "   \n");
  for (int older = 1; older <= platform::kLogGenerations; ++older) {
    EXPECT_EQ(ReadWide(path + "." + std::to_string(older)),
              "night " + std::to_string(last - older) + "   \n");
  }
  EXPECT_FALSE(fs::exists(Widen(path + "." + std::to_string(platform::kLogGenerations + 1))));

  auto intoDevice = platform::MakeLogFile(In(dir, "nul.log"));
  EXPECT_EQ(
      intoDevice->AppendLine("x").message(),
      "The show log cannot be written: \"" + In(dir, "nul.log") + "\": it is a device, not a file");
}

TEST(WinLogFile, LocalTimeCarriesItsOffsetAsDigits) {
  EXPECT_TRUE(std::regex_match(platform::LocalDateTime(),
                               std::regex(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d [+-]\d{4})")))
      << platform::LocalDateTime();
}

TEST(WinProgramFolders, InstalledUnderProgramFilesElsePortable) {
  const std::vector<std::string> programFiles = {"C:\\Program Files", "C:\\Program Files (x86)"};
  const std::string appData = "C:\\Users\\op\\AppData\\Local";
  struct Case {
    const char* program;
    const char* data;
    bool installed;
  };
  const Case cases[] = {
      {"C:\\Program Files\\Glimmerfield", "C:\\Users\\op\\AppData\\Local\\Glimmerfield", true},
      {"c:\\program files (x86)\\Glimmerfield\\", "C:\\Users\\op\\AppData\\Local\\Glimmerfield",
       true},
      {"C:/Program Files/Glimmerfield", "C:\\Users\\op\\AppData\\Local\\Glimmerfield", true},
      // A folder whose name only starts the same is not inside.
      {"C:\\Program Files Extra\\Glimmerfield", "C:\\Program Files Extra\\Glimmerfield", false},
      {"E:\\Glimmerfield", "E:\\Glimmerfield", false},
      {"E:\\", "E:\\", false},
  };
  for (const Case& c : cases) {
    const platform::ProgramFolders folders =
        platform::ChooseProgramFolders(c.program, programFiles, appData);
    EXPECT_EQ(folders.data, c.data) << c.program;
    EXPECT_EQ(folders.installed, c.installed) << c.program;
    EXPECT_EQ(folders.programs + "\\glimmer-extract.exe", folders.Extractor()) << c.program;
  }
  // Without a local application data folder, an installed copy has nowhere
  // else to go.
  EXPECT_FALSE(platform::ChooseProgramFolders("C:\\Program Files\\G", programFiles, "").installed);
}

TEST(WinProgramFolders, ThisProgramRunsBesideItsOwnFiles) {
  const platform::ProgramFolders folders = platform::CurrentProgramFolders();
  EXPECT_EQ(fs::path(Widen(platform::ApplicationDirectory())), fs::path(Widen(folders.programs)));
  EXPECT_TRUE(fs::exists(fs::path(Widen(platform::ApplicationDirectory())) / L"win_tests.exe"));
}

}  // namespace
