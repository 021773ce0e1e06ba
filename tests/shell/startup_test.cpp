#include <string>
#include <tuple>
#include <vector>

#include "playback/show_scheduler.h"
#include "shell/setting_choices.h"
#include "tests/shell/window_fixture.h"

namespace shelltest {
namespace {

const char* const kLists[] = {"cboPort", "cboDataRate", "cboFrameComp", "cboStartTime",
                              "cboEndTime"};
const shell::ChoiceList* const kChoices[] = {&shell::PortChoices(), &shell::DataRateChoices(),
                                             &shell::FrameTimingChoices(),
                                             &shell::StartTimeChoices(), &shell::EndTimeChoices()};

const char* const kAutostartMessage =
    "The show couldn't autostart because the specified port is invalid.  This could be because of "
    "one of the following reasons:\r\nA) The port is in use by another application\r\nB) The "
    "port number is incorrect";
const char* const kWinRarMessage =
    "WinRAR could not be found on this machine.  You must install WinRAR with shell integration "
    "before using this application.";
const char* const kSpectrumMessage =
    "Could not find Spectrum: Spectrum Suite must be installed on the machine prior to running "
    "this application.";

std::string PreferencesFile(const std::string& port, const std::string& autostart) {
  return port + "\r\n56000\r\n5\r\n5:30:00 PM\r\n11:00:00 PM\r\n" + autostart + "\r\nc:\\\r\n";
}

using StartupTest = WindowTest;

// The lists' own entries and defaults are the settings module's
// (SettingChoices); here, that the window offers them.
TEST_F(StartupTest, WithoutPreferencesEverythingDefaultsAndTheFileIsWritten) {
  Start();
  for (int i = 0; i < 5; ++i) {
    SCOPED_TRACE(kLists[i]);
    const QComboBox& list = List(kLists[i]);
    std::vector<std::string> offered;
    for (int row = 0; row < list.count(); ++row)
      offered.push_back(list.itemText(row).toStdString());
    EXPECT_EQ(offered, kChoices[i]->entries);
    EXPECT_EQ(Selected(kLists[i]), kChoices[i]->Default());
  }
  EXPECT_EQ(window->StatusText(), playback::kStoppedText);
  EXPECT_TRUE(ui.messages.empty());
  EXPECT_TRUE(endCodes.empty());
  EXPECT_EQ(Preferences(), kDefaultPreferences);  // 47 bytes
  // Five default selections, then the empty import folder: one write each.
  EXPECT_EQ(files.written.size(), 6u);
}

// The caption first, then a yield before the window shows; then shown and
// busy, a yield before anything is filled or written.
TEST_F(StartupTest, RunsItsStepsInTheWrittenOrder) {
  // At each yield: caption, shown, port list usable, its entries, status, writes.
  using Seen = std::tuple<std::string, bool, bool, int, std::string, std::size_t>;
  std::vector<Seen> seen;
  ui.onDoEvents = [&](int) {
    seen.emplace_back(window->windowTitle().toStdString(), window->isVisible(),
                      List("cboPort").isEnabled(), List("cboPort").count(), window->StatusText(),
                      files.written.size());
  };
  Start();
  const std::string caption = "Glimmerfield Player (version 0.94)";
  EXPECT_EQ(seen, (std::vector<Seen>{{caption, false, true, 0, "", 0},
                                     {caption, true, false, 0, "", 0}}));
}

// Which saved values match an entry is the settings module's rule
// (SelectedChoices); here, that each list applies it on its own and writes
// the outcome back. The folder comes back as it was, commas, blanks and
// quotes included.
TEST_F(StartupTest, SavedValuesComeBackAndOneMatchingNoEntrySelectsThatListsDefault) {
  const std::string folder = "C:\\Shows, Summer \"Best\" of 2024 ";
  const std::vector<std::string> saved = {"7",           "56000", "3",   "8:15:00 PM",
                                          "11:59:59 PM", "0",     folder};
  // The 1-based line of the preferences file changed (0: none), the value
  // written there, and the default that list falls back to.
  const std::tuple<int, std::string, std::string> cases[] = {{0, "", ""},
                                                             {1, "17", "1"},
                                                             {2, "9600", "115200"},
                                                             {3, "", "5"},
                                                             {4, "11:59:59 PM", "5:30:00 PM"},
                                                             {5, "23:00:00", "11:00:00 PM"}};
  for (const auto& [line, value, expected] : cases) {
    SCOPED_TRACE("line " + std::to_string(line) + " = \"" + value + "\"");
    std::string file;
    for (int i = 1; i <= 7; ++i) file += (i == line ? value : saved[i - 1]) + "\r\n";
    WritePreferences(file);
    Start();
    for (int i = 1; i <= 5; ++i) {
      const std::string want = i == line ? expected : saved[i - 1];
      EXPECT_EQ(Selected(kLists[i - 1]), want) << kLists[i - 1];
      EXPECT_EQ(PreferencesLine(i), want) << "written back, line " << i;
    }
    EXPECT_EQ(window->LastImportFolder(), folder);
    EXPECT_EQ(PreferencesLine(7), folder);
  }
}

TEST_F(StartupTest, OnlyAnExactOneStartsTheShow) {
  for (const char* flag : {"0", "", "1.0", " 1", "1 ", "true", "yes", "01"}) {
    SCOPED_TRACE(std::string("flag \"") + flag + "\"");
    WritePreferences(PreferencesFile("3", flag));
    Start();
    EXPECT_EQ(port.openCount, 0);
    EXPECT_EQ(PreferencesLine(6), "0");
  }
}

// Stop is clicked at the first pause pass: the show waits for its window.
TEST_F(StartupTest, FlagOneTriesThePortThenStartsTheShow) {
  WritePreferences(PreferencesFile("3", "1"));
  OneEntryPlaylist({playback_test::Level(20000, 1)}, 1.0);  // an empty one is refused at once
  clock.SetTimeOfDay(12, 0, 0);
  std::string seen;
  ui.onDoEvents = [&](int) {
    if (!window->ShowRunning() || window->StatusText() != playback::kPausedText) return;
    seen = std::to_string(port.openCount) + " opens, " + std::to_string(port.closeCount) +
           " closes, Stop " + (Button("cmdStop").isEnabled() ? "on" : "off");
    Button("cmdStop").click();
  };
  Start();
  // The trial open and close, then the show's own open, closed again by its
  // first pause pass.
  EXPECT_EQ(seen, "2 opens, 2 closes, Stop on");
  EXPECT_TRUE(ui.messages.empty());
  EXPECT_EQ(PreferencesLine(6), "0");
  const std::string log = fakes::ReadBytes(dir.File("show.log"));
  EXPECT_NE(log.find(" Show started (autostart)\n"), std::string::npos) << log;
  EXPECT_NE(log.find(" Show stopped (Stop button)\n"), std::string::npos) << log;
}

TEST_F(StartupTest, FailedTrialOpenShowsTheMessageAndLeavesZero) {
  WritePreferences(PreferencesFile("16", "1"));
  port.openError = "/dev/ttyS15: No such file or directory";
  Start();
  EXPECT_EQ(ui.messages, std::vector<std::string>{kAutostartMessage});
  EXPECT_FALSE(window->ShowRunning());
  EXPECT_EQ(PreferencesLine(6), "0");
  EXPECT_NE(fakes::ReadBytes(dir.File("show.log"))
                .find(" Show ended: the autostart could not open the port: /dev/ttyS15: No such "
                      "file or directory\n"),
            std::string::npos);
}

TEST_F(StartupTest, MissingArchiverEndsTheProgramBeforeAnythingIsWritten) {
  locateWinRar = shell::LocateWinRarInRegistry;  // and neither key is there
  Start();
  EXPECT_EQ(ui.messages, std::vector<std::string>{kWinRarMessage});
  EXPECT_EQ(endCodes, std::vector<int>{1});
  EXPECT_TRUE(files.written.empty());
  EXPECT_EQ(List("cboPort").count(), 0);
}

TEST_F(StartupTest, UnreadableRegistryTypesAreReportedAndTreatedAsMissing) {
  registry.Put(shell::kWinRarCommandKey, "", 6, {0, 0});                      // REG_LINK
  registry.Put(kSpectrumKey, "FriendlyCache", 11, {1, 2, 3, 4, 5, 6, 7, 8});  // REG_QWORD
  registry.PutString(shell::kWinRarAppPathKey, "", "C:\\WinRAR\\WinRAR.exe");
  locateWinRar = shell::LocateWinRarInRegistry;
  Start();
  ASSERT_EQ(ui.messages.size(), 3u);
  for (int i : {0, 1}) {
    EXPECT_NE(ui.messages[i].find("Unsupported value type"), std::string::npos);
    EXPECT_NE(ui.messages[i].find("1001"), std::string::npos);
  }
  EXPECT_NE(ui.messages[1].find("FriendlyCache"), std::string::npos);
  // Spectrum counts as missing: a notice, as start-up (and an autostart) does
  // not wait for OK, and start-up goes on.
  EXPECT_EQ(ui.notices, std::vector<std::string>{kSpectrumMessage});
  EXPECT_EQ(window->WinRarPath(), "C:\\WinRAR\\WinRAR.exe");
  EXPECT_TRUE(endCodes.empty());
}

}  // namespace
}  // namespace shelltest
