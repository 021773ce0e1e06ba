#include <QListWidget>
#include <string>
#include <vector>

#include "platform/posix/posix_file_store.h"
#include "playback/show_scheduler.h"
#include "tests/shell/window_fixture.h"

namespace shelltest {
namespace {

const char* const kLists[] = {"cboPort", "cboDataRate", "cboFrameComp", "cboStartTime",
                              "cboEndTime"};

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

using StartupTest = WindowTest;

TEST_F(StartupTest, WithoutPreferencesEverythingDefaultsAndTheFileIsWritten) {
  Start();

  EXPECT_EQ(Selected("cboPort"), "1");
  EXPECT_EQ(Selected("cboDataRate"), "115200");
  EXPECT_EQ(Selected("cboFrameComp"), "5");
  EXPECT_EQ(Selected("cboStartTime"), "5:30:00 PM");
  EXPECT_EQ(Selected("cboEndTime"), "11:00:00 PM");
  EXPECT_EQ(List("cboPort").count(), 16);
  EXPECT_EQ(List("cboDataRate").count(), 2);
  EXPECT_EQ(List("cboFrameComp").count(), 10);
  EXPECT_EQ(List("cboStartTime").count(), 96);
  EXPECT_EQ(List("cboEndTime").count(), 97);
  EXPECT_EQ(window->LastImportFolder(), "c:\\");
  EXPECT_EQ(window->StatusText(), playback::kStoppedText);
  EXPECT_EQ(window->windowTitle().toStdString(), "Glimmerfield Player (version 0.94)");
  EXPECT_FALSE(window->ShowRunning());
  EXPECT_EQ(port.openCount, 0);
  EXPECT_TRUE(ui.messages.empty());
  EXPECT_TRUE(endCodes.empty());

  EXPECT_EQ(Preferences(), kDefaultPreferences);
  EXPECT_EQ(Preferences().size(), 47u);
  // Five default selections, then the empty import folder: one write each.
  EXPECT_EQ(files.written.size(), 6u);
}

TEST_F(StartupTest, RunsItsStepsInTheWrittenOrder) {
  struct Seen {
    bool visible;
    bool captionHasVersion;
    bool listsEnabled;
    bool stopEnabled;
    std::string status;
    int portEntries;
    bool preferencesWritten;
  };
  std::vector<Seen> seen;
  ui.onDoEvents = [&](int) {
    seen.push_back({window->isVisible(), window->windowTitle().contains(QStringLiteral("0.94")),
                    List("cboPort").isEnabled(), Button("cmdStop").isEnabled(),
                    window->StatusText(), List("cboPort").count(), !files.written.empty()});
  };
  bool disabledWhileLocating = false;
  locateWinRar = [&](const shell::RegistryTextReader&) {
    disabledWhileLocating = !List("cboPort").isEnabled() && !Button("cmdShowStart").isEnabled();
    return winRarPath;
  };
  window = std::make_unique<shell::frmMain>(MakeServices());
  window->Form_Load();

  ASSERT_EQ(seen.size(), 2u);
  // Form_Load: caption first, then a yield, before the window is shown.
  EXPECT_TRUE(seen[0].captionHasVersion);
  EXPECT_FALSE(seen[0].visible);
  // InitializeForm step 6: shown, busy, nothing filled or written yet.
  EXPECT_TRUE(seen[1].visible);
  EXPECT_FALSE(seen[1].listsEnabled);
  EXPECT_FALSE(seen[1].stopEnabled);
  EXPECT_EQ(seen[1].status, "");
  EXPECT_EQ(seen[1].portEntries, 0);
  EXPECT_FALSE(seen[1].preferencesWritten);
  EXPECT_TRUE(disabledWhileLocating);
  // Step 13: stopped.
  EXPECT_TRUE(List("cboPort").isEnabled());
  EXPECT_FALSE(Button("cmdStop").isEnabled());
}

struct Mismatch {
  int line;              // 1-based line of the preferences file changed
  std::string value;     // written there
  const char* list;      // the list that falls back to its default
  std::string expected;  // its default entry
};

class SavedValueTest : public WindowTest, public ::testing::WithParamInterface<Mismatch> {};

TEST_P(SavedValueTest, ValueMatchingNoEntrySelectsOnlyThatListsDefault) {
  std::vector<std::string> lines = {"7", "56000", "3", "8:15:00 PM", "10:30:00 PM", "0", "/shows"};
  const std::vector<std::string> chosen = lines;
  lines[static_cast<std::size_t>(GetParam().line - 1)] = GetParam().value;
  std::string file;
  for (const auto& l : lines) file += l + "\r\n";
  WritePreferences(file);

  Start();

  for (int i = 0; i < 5; ++i) {
    const std::string want =
        kLists[i] == std::string(GetParam().list) ? GetParam().expected : chosen[i];
    EXPECT_EQ(Selected(kLists[i]), want) << kLists[i];
    EXPECT_EQ(PreferencesLine(i + 1), want) << "written back, line " << i + 1;
  }
  EXPECT_EQ(window->LastImportFolder(), "/shows");
}

INSTANTIATE_TEST_SUITE_P(Lists, SavedValueTest,
                         ::testing::Values(Mismatch{1, "17", "cboPort", "1"},
                                           Mismatch{1, " 7", "cboPort", "1"},
                                           Mismatch{1, "07", "cboPort", "1"},
                                           Mismatch{2, "9600", "cboDataRate", "115200"},
                                           Mismatch{3, "0", "cboFrameComp", "5"},
                                           Mismatch{4, "5:31:00 PM", "cboStartTime", "5:30:00 PM"},
                                           Mismatch{4, "8:15:00 pm", "cboStartTime", "5:30:00 PM"},
                                           Mismatch{4, "11:59:59 PM", "cboStartTime", "5:30:00 PM"},
                                           Mismatch{5, "23:00:00", "cboEndTime", "11:00:00 PM"}));

TEST_F(StartupTest, LastSecondOfTheDayIsAnEndTimeOnly) {
  WritePreferences("1\r\n115200\r\n5\r\n11:59:59 PM\r\n11:59:59 PM\r\n0\r\nc:\\\r\n");
  Start();
  EXPECT_EQ(List("cboStartTime").currentIndex(), 70);
  EXPECT_EQ(List("cboEndTime").currentIndex(), 96);
  EXPECT_EQ(Selected("cboEndTime"), "11:59:59 PM");
}

TEST_F(StartupTest, ImportFolderWithCommasBlanksAndQuotesComesBackUnchanged) {
  const std::string folder = "C:\\Shows, Summer \"Best\" of 2024 ";
  WritePreferences("2\r\n115200\r\n5\r\n5:30:00 PM\r\n11:00:00 PM\r\n0\r\n" + folder + "\r\n");
  Start();
  EXPECT_EQ(window->LastImportFolder(), folder);

  List("cboPort").setCurrentIndex(5);  // any write
  EXPECT_EQ(PreferencesLine(7), folder);
  EXPECT_EQ(PreferencesLine(1), "6");
}

TEST_F(StartupTest, ShortFileLeavesTheMissingValuesEmpty) {
  WritePreferences("3\r\n56000\r\n");
  Start();
  EXPECT_EQ(Selected("cboPort"), "3");
  EXPECT_EQ(Selected("cboDataRate"), "56000");
  EXPECT_EQ(Selected("cboFrameComp"), "5");
  EXPECT_EQ(window->LastImportFolder(), "c:\\");
  EXPECT_EQ(Preferences(), "3\r\n56000\r\n5\r\n5:30:00 PM\r\n11:00:00 PM\r\n0\r\nc:\\\r\n");
  EXPECT_TRUE(ui.messages.empty());
}

class AutostartFlagTest : public WindowTest, public ::testing::WithParamInterface<std::string> {};

TEST_P(AutostartFlagTest, OnlyAnExactOneStartsTheShow) {
  WritePreferences("3\r\n56000\r\n5\r\n5:30:00 PM\r\n11:00:00 PM\r\n" + GetParam() +
                   "\r\nc:\\\r\n");
  Start();
  EXPECT_EQ(port.openCount, 0);
  EXPECT_FALSE(window->ShowRunning());
  EXPECT_EQ(PreferencesLine(6), "0");
  EXPECT_FALSE(Button("cmdStop").isEnabled());
}

INSTANTIATE_TEST_SUITE_P(NotOne, AutostartFlagTest,
                         ::testing::Values("0", "", "1.0", " 1", "1 ", "true", "yes", "01"));

TEST_F(StartupTest, FlagOneTriesThePortThenStartsTheShow) {
  WritePreferences("3\r\n56000\r\n5\r\n5:30:00 PM\r\n11:00:00 PM\r\n1\r\nc:\\\r\n");
  clock.SetTimeOfDay(12, 0, 0);  // before the show's window: the show waits
  struct Seen {
    int opens, closes;
    bool stopEnabled, startEnabled;
    std::string status, autostartLine;
  };
  std::vector<Seen> seen;
  ui.onDoEvents = [&](int) {
    if (!window || !window->ShowRunning() || window->StatusText() != playback::kPausedText) return;
    seen.push_back({port.openCount, port.closeCount, Button("cmdStop").isEnabled(),
                    Button("cmdShowStart").isEnabled(), window->StatusText(), PreferencesLine(6)});
    Button("cmdStop").click();
  };
  Start();

  // The trial open and close, then the show's own open, closed again by its
  // first pause pass.
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].opens, 2);
  EXPECT_EQ(seen[0].closes, 2);
  EXPECT_TRUE(seen[0].stopEnabled);
  EXPECT_FALSE(seen[0].startEnabled);
  EXPECT_EQ(seen[0].autostartLine, "1");
  EXPECT_EQ(port.portNumber, 3);
  EXPECT_EQ(port.settings, "56000,N,8,1");
  EXPECT_TRUE(ui.messages.empty());
  // Stop ended the show the autostart began.
  EXPECT_FALSE(window->ShowRunning());
  EXPECT_EQ(window->StatusText(), playback::kStoppedText);
  EXPECT_TRUE(Button("cmdShowStart").isEnabled());
  EXPECT_EQ(PreferencesLine(6), "0");
}

TEST_F(StartupTest, FailedTrialOpenShowsTheMessageAndLeavesZero) {
  WritePreferences("16\r\n115200\r\n5\r\n5:30:00 PM\r\n11:00:00 PM\r\n1\r\nc:\\\r\n");
  port.openError = "/dev/ttyS15: No such file or directory";
  Start();
  ASSERT_EQ(ui.messages.size(), 1u);
  EXPECT_EQ(ui.messages[0], kAutostartMessage);
  EXPECT_EQ(port.portNumber, 16);
  EXPECT_EQ(port.settings, "115200,N,8,1");
  EXPECT_FALSE(window->ShowRunning());
  EXPECT_EQ(PreferencesLine(6), "0");
  EXPECT_TRUE(Button("cmdShowStart").isEnabled());
  EXPECT_FALSE(Button("cmdStop").isEnabled());
}

TEST_F(StartupTest, MissingArchiverEndsTheProgramBeforeAnythingIsWritten) {
  winRarPath = "";
  Start();
  EXPECT_EQ(ui.messages, std::vector<std::string>{kWinRarMessage});
  EXPECT_EQ(endCodes, std::vector<int>{1});
  EXPECT_TRUE(files.written.empty());
  EXPECT_EQ(List("cboPort").count(), 0);
}

struct RegistryCase {
  const char* name;
  std::string command;   // "" = value absent
  std::string appPath;   // "" = value absent
  std::string expected;  // "" = not found
};

class WinRarRegistryTest : public WindowTest, public ::testing::WithParamInterface<RegistryCase> {};

TEST_P(WinRarRegistryTest, FindsTheArchiverThroughTheRegistry) {
  if (!GetParam().command.empty()) {
    registry.PutString(shell::kWinRarCommandKey, "", GetParam().command);
  }
  if (!GetParam().appPath.empty()) {
    registry.PutString(shell::kWinRarAppPathKey, "", GetParam().appPath);
  }
  locateWinRar = shell::LocateWinRarInRegistry;
  Start();
  if (GetParam().expected.empty()) {
    EXPECT_EQ(ui.messages, std::vector<std::string>{kWinRarMessage});
    EXPECT_EQ(endCodes, std::vector<int>{1});
  } else {
    EXPECT_EQ(window->WinRarPath(), GetParam().expected);
    EXPECT_TRUE(ui.messages.empty());
  }
  EXPECT_EQ(registry.openHandles, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Keys, WinRarRegistryTest,
    ::testing::Values(RegistryCase{"QuotedWithArgument",
                                   "\"C:\\Program Files\\WinRAR\\WinRAR.exe\" \"%1\"", "",
                                   "C:\\Program Files\\WinRAR\\WinRAR.exe"},
                      RegistryCase{"UnquotedCutAtLastBlank",
                                   "C:\\Program Files\\WinRAR\\WinRAR.exe", "", "C:\\Program"},
                      RegistryCase{"SecondKeyKeepsBlanks", "", "\"C:\\My Tools\\WinRAR.exe\"",
                                   "C:\\My Tools\\WinRAR.exe"},
                      RegistryCase{"FirstKeyWins", "\"C:\\A\\WinRAR.exe\" \"%1\"",
                                   "C:\\B\\WinRAR.exe", "C:\\A\\WinRAR.exe"},
                      RegistryCase{"CommandWithoutPathAsksAppPaths", "\"\" \"%1\"",
                                   "C:\\B\\WinRAR.exe", "C:\\B\\WinRAR.exe"},
                      RegistryCase{"Neither", "", "", ""}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(StartupTest, MissingSpectrumOnlyWarns) {
  registry.keys.clear();
  Start();
  // A notice: start-up (and an autostart) does not wait for OK.
  EXPECT_EQ(ui.notices, std::vector<std::string>{kSpectrumMessage});
  EXPECT_TRUE(endCodes.empty());
  EXPECT_EQ(Preferences(), kDefaultPreferences);
  EXPECT_TRUE(Button("cmdShowStart").isEnabled());
}

TEST_F(StartupTest, UnreadableRegistryTypeIsReportedAndTreatedAsMissing) {
  registry.Put(kSpectrumKey, "FriendlyCache", 11, {1, 2, 3, 4, 5, 6, 7, 8});  // REG_QWORD
  Start();
  ASSERT_EQ(ui.messages.size(), 2u);
  EXPECT_NE(ui.messages[0].find("FriendlyCache"), std::string::npos);
  EXPECT_NE(ui.messages[0].find("Unsupported value type"), std::string::npos);
  EXPECT_NE(ui.messages[0].find("1001"), std::string::npos);
  EXPECT_EQ(ui.messages[1], kSpectrumMessage);
  EXPECT_EQ(registry.openHandles, 0);
  EXPECT_EQ(Preferences(), kDefaultPreferences);
}

TEST_F(StartupTest, UnreadableWinRarCommandFallsBackToTheSecondKey) {
  registry.Put(shell::kWinRarCommandKey, "", 6, {0, 0});  // REG_LINK
  registry.PutString(shell::kWinRarAppPathKey, "", "C:\\WinRAR\\WinRAR.exe");
  locateWinRar = shell::LocateWinRarInRegistry;
  Start();
  ASSERT_EQ(ui.messages.size(), 1u);
  EXPECT_NE(ui.messages[0].find("Unsupported value type"), std::string::npos);
  EXPECT_EQ(window->WinRarPath(), "C:\\WinRAR\\WinRAR.exe");
  EXPECT_TRUE(endCodes.empty());
}

TEST_F(StartupTest, ProgramFolderThatCannotHoldFilesWithTheRealStore) {
  // A folder that does not exist cannot be written, whoever runs the test.
  platform::PosixFileStore store;
  window = std::make_unique<shell::frmMain>(
      shell::frmMain::Services{ui,
                               clock,
                               port,
                               audio,
                               registry,
                               store,
                               launcher,
                               dir.File("gone/away"),
                               [this](const shell::RegistryTextReader&) { return winRarPath; },
                               [this](int code) { endCodes.push_back(code); },
                               {}});
  window->Form_Load();
  ASSERT_EQ(ui.messages.size(), 1u);
  EXPECT_NE(ui.messages[0].find(dir.File("gone/away/preferences.txt")), std::string::npos);
  EXPECT_NE(ui.messages[0].find("No such file or directory"), std::string::npos);
  EXPECT_EQ(Selected("cboEndTime"), "11:00:00 PM");
  window.reset();
}

}  // namespace
}  // namespace shelltest
