#include "shell/winrar_locator.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>

#include "tests/fakes/temp_dir.h"

namespace {

// The open command is cut before its last blank, without quotes; the App
// Paths entry only loses its quotes.
TEST(WinRarLocatorTest, OpenCommandFirstThenAppPaths) {
  const struct {
    std::string command, appPath, expected;  // "": the value absent, or not found
  } cases[] = {{"\"C:\\Program Files\\WinRAR\\WinRAR.exe\" \"%1\"", "",
                "C:\\Program Files\\WinRAR\\WinRAR.exe"},
               {"C:\\Program Files\\WinRAR\\WinRAR.exe", "", "C:\\Program"},
               {"\"C:\\WinRAR\\WinRAR.exe\" x \"%1\"", "", "C:\\WinRAR\\WinRAR.exe x"},
               // No blank at all: the whole text is the program, without quotes.
               {"\"C:\\WinRAR\\WinRAR.exe\"", "", "C:\\WinRAR\\WinRAR.exe"},
               {"\"C:\\WinRAR\\WinRAR.exe\" ", "", "C:\\WinRAR\\WinRAR.exe"},
               {"", "\"C:\\My Tools\\WinRAR.exe\"", "C:\\My Tools\\WinRAR.exe"},
               {"\"C:\\A\\WinRAR.exe\" \"%1\"", "C:\\B\\WinRAR.exe", "C:\\A\\WinRAR.exe"},
               // A command that leaves no path falls back to App Paths.
               {"\"\" \"%1\"", "C:\\B\\WinRAR.exe", "C:\\B\\WinRAR.exe"},
               {"", "", ""}};
  for (const auto& c : cases) {
    const std::map<std::string, std::string> values = {{shell::kWinRarCommandKey, c.command},
                                                       {shell::kWinRarAppPathKey, c.appPath}};
    const auto read = [&](const std::string& key, const std::string& value) {
      EXPECT_EQ(value, "") << "only default values are read";
      return values.at(key);
    };
    EXPECT_EQ(shell::LocateWinRarInRegistry(read), c.expected) << c.command << " / " << c.appPath;
  }
}

TEST(WinRarLocatorTest, ExtractorBesideThePlayerMustBeAnExecutableFile) {
  namespace fs = std::filesystem;
  fakes::TempDir dir;
  const std::string folder = dir.path().string();
  const std::string program = dir.File("glimmer-extract");
  EXPECT_EQ(shell::LocateExtractorBeside(folder), "");

  fs::create_directory(program);
  EXPECT_EQ(shell::LocateExtractorBeside(folder), "") << "a folder is no program";
  fs::remove(program);

  fakes::WriteBytes(program, "#!/bin/sh\n");
  fs::permissions(program, fs::perms::owner_read | fs::perms::owner_write);
  EXPECT_EQ(shell::LocateExtractorBeside(folder), "") << "not executable";

  fs::permissions(program, fs::perms::owner_exec, fs::perm_options::add);
  EXPECT_EQ(shell::LocateExtractorBeside(folder), program);
}

// An installed WinRAR wins over our extractor; without one (or with a
// registry entry that leaves no path) the extractor beside the player.
TEST(WinRarLocatorTest, ArchiverIsWinRarWhenInstalledElseTheExtractorBeside) {
  fakes::TempDir dir;
  const std::string extractor = dir.File("glimmer-extract");
  fakes::WriteBytes(extractor, "#!/bin/sh\n");
  std::filesystem::permissions(extractor, std::filesystem::perms::owner_all);
  const struct {
    std::string command, expected;
  } cases[] = {{"\"C:\\WinRAR\\WinRAR.exe\" \"%1\"", "C:\\WinRAR\\WinRAR.exe"},
               {"", extractor},
               {"\"\" \"%1\"", extractor}};
  for (const auto& c : cases) {
    const auto read = [&](const std::string& key, const std::string&) {
      return key == shell::kWinRarCommandKey ? c.command : std::string();
    };
    EXPECT_EQ(shell::LocateArchiver(read, dir.path().string()), c.expected) << c.command;
  }
}

}  // namespace
