#include "shell/preferences.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(PreferencesTest, ReadsSevenLinesWhateverTheLineEnds) {
  const struct {
    const char* name;
    std::string bytes;
    std::string port, autostart, folder;
  } cases[] = {{"CrLf", "4\r\n56000\r\n5\r\na\r\nb\r\n1\r\n/x\r\n", "4", "1", "/x"},
               {"LfOnly", "4\n56000\n5\na\nb\n1\n/x\n", "4", "1", "/x"},
               {"NoFinalLineEnd", "4\r\n56000\r\n5\r\na\r\nb\r\n1\r\n/x", "4", "1", "/x"},
               {"EmptyLinesStayEmpty", "\r\n\r\n\r\n\r\n\r\n\r\n\r\n", "", "", ""},
               {"Short", "4\r\n", "4", "", ""},
               {"ExtraLinesIgnored", "4\r\n\r\n\r\n\r\n\r\n0\r\n/x\r\nmore\r\n", "4", "0", "/x"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const shell::Preferences p = shell::ParsePreferences(c.bytes);
    EXPECT_EQ(p.port, c.port);
    EXPECT_EQ(p.autostart, c.autostart);
    EXPECT_EQ(p.lastImportFolder, c.folder);
  }
}

}  // namespace
