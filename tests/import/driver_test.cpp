#include "import/compile_sequence.h"
#include "import/import_driver.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <tuple>
#include <vector>

#include "platform/paths.h"
#include "playlist/playlist.h"
#include "tests/fakes/fake_file_store.h"
#include "tests/fakes/fake_list_box.h"
#include "tests/fakes/fake_process_launcher.h"
#include "tests/fakes/fake_user_interface.h"
#include "tests/fakes/sequence_document.h"
#include "tests/fakes/temp_dir.h"

namespace importer {
using namespace sequence_format;
namespace {

namespace fs = std::filesystem;

// Logs what the import does to the window; of the status texts, only the
// driver's own (the compiler's are tested with the compiler).
class FakeImportWindow : public ImportWindow {
 public:
  explicit FakeImportWindow(playlist::Playlist& playlist) : playlist_(playlist) {}
  void SetStatus(const std::string& text) override {
    if (text == kImportingStatus || text == kReadyStatus || text == kImportFailedStatus) {
      log.push_back("status:" + text);
    }
  }
  bool PerformBitmask() const override { return true; }
  void ShowImportingPanel(bool visible) override { log.push_back(visible ? "panel" : "no panel"); }
  void SetBusyState() override { log.push_back("busy"); }
  void SetStoppedState() override { log.push_back("stopped"); }
  std::string LastImportFolder() const override { return lastImportFolder; }
  void SetLastImportFolder(const std::string& folder) override {
    lastImportFolder = folder;
    log.push_back("folder:" + folder);
  }
  void SavePreferences() override { log.push_back("preferences"); }
  // As the window does it.
  void AddImportedSequence(const ImportedSequence& s) override {
    playlist_.AddPlaylistEntry({s.audioPath, s.cachePath, s.listText, "0.94", s.archivePath});
  }
  void SavePlaylist() override { (void)playlist_.SavePlaylist(); }
  bool ImportCancelled() const override { return cancelled; }
  void ImportFailed(const std::string& archivePath, const std::string& why) override {
    failures.push_back(archivePath + " | " + why);
  }

  std::string lastImportFolder;
  std::vector<std::string> failures;  // as the window's log gets them
  bool cancelled = false;
  std::vector<std::string> log;
  playlist::Playlist& playlist_;
};

const auto Status = [](const char* text) { return std::string("status:") + text; };
const std::vector<std::string> kStoppedAgain = {"no panel", "stopped", Status(kImportFailedStatus)};

// The archiver is a fake that "extracts" the document named after the
// archive, unless told otherwise.
class DriverTest : public ::testing::Test {
 protected:
  DriverTest() {
    fs::create_directories(appDir_);
    fakes::WriteBytes(audio_, "RIFF");
    sequence_.filePath = audio_;
    sequence_.controllers = {{"1", {{"1", {{"0", "1", "0", "255"}}}}}};
    launcher_.onRun = [this](const std::vector<std::string>& argv) {
      if (extracts_) {
        fakes::WriteBytes(argv.at(4) + DeriveArchiveNames(argv.at(3))->baseName,
                          fakes::ToXml(sequence_));
      }
    };
  }

  // Picks `archive` in the dialog, or cancels it when `archive` is empty.
  void Import(const std::string& archive) {
    if (!archive.empty()) ui_.dialogAnswers.push_back(archive);
    ImportDriver driver(window_, appDir_, "/opt/rar/unrar", launcher_, ui_, files_, fadeTimings_);
    driver.SetMonotonicClock([this] { return now_ += secondsPerQuestion_; });
    driver.cmdPlayListAdd_Click();
  }
  // A path in the program's folder as the import shows it: joined with the
  // system's own separator ("\" for a Windows user), `relative` written with "/".
  std::string InApp(std::string relative) const {
    std::replace(relative.begin(), relative.end(), '/', platform::kPathSeparator);
    return appDir_ + platform::kPathSeparator + relative;
  }
  std::string Temp(const std::string& name = "") const { return InApp("Temp/" + name); }
  bool PlaylistSaved() const {
    return std::count(files_.written.begin(), files_.written.end(), playlistFile_) > 0;
  }
  std::vector<std::string> LogTail() const {
    const auto& log = window_.log;
    return {log.end() - std::min<std::ptrdiff_t>(3, static_cast<std::ptrdiff_t>(log.size())),
            log.end()};
  }

  fakes::TempDir dir_;
  // A blank, as on many desktops, and what a shell would take apart: the
  // archiver gets the folder exactly, since no shell runs it.
  std::string appDir_ = dir_.File("Glimmer Field it's $HOME; `touch pwned` & co"),
              audio_ = dir_.File("song.wav"), playlistFile_ = dir_.File("playlist.txt");
  fakes::FakeListBox list_;
  fakes::FakeUserInterface ui_;
  fakes::FakeFileStore files_;
  playlist::Playlist playlist_{list_, ui_, files_, playlistFile_};
  FakeImportWindow window_{playlist_};
  fakes::FakeProcessLauncher launcher_;
  const FadeTimingTable fadeTimings_ = FillFadeTimingTable();
  fakes::Sequence sequence_;
  bool extracts_ = true;
  std::chrono::steady_clock::time_point now_;
  std::chrono::seconds secondsPerQuestion_{0};
};

TEST_F(DriverTest, ImportsEachChosenArchiveIntoTheNextPlaylistElementAndNothingWhenCancelled) {
  window_.lastImportFolder = "/old/";
  Import("");
  ASSERT_EQ(ui_.dialogs.size(), 1u);
  const auto& d = ui_.dialogs[0];
  EXPECT_EQ(
      std::tie(d.filter, d.title, d.initialFolder, d.fileName),
      std::tuple("Spectrum Sequences (*.msq) | *.msq", "Add Sequence To Playlist", "/old/", ""));
  EXPECT_TRUE(window_.log.empty());
  EXPECT_TRUE(launcher_.runs.empty());
  EXPECT_FALSE(fs::exists(Temp()));

  Import("/shows/Xmas.2024.msq");

  EXPECT_EQ(launcher_.runs, (std::vector<std::vector<std::string>>{
                                {"/opt/rar/unrar", "X", "-o+", "/shows/Xmas.2024.msq", Temp()}}));
  EXPECT_TRUE(ui_.messages.empty()) << ui_.messages[0];
  ASSERT_EQ(list_.items.size(), 1u);
  EXPECT_EQ(std::tie(list_.items[0].text, list_.items[0].data),
            std::tuple("Carol - Choir         (/shows/Xmas.2024.msq)", 0));
  const playlist::PlaylistEntry& entry = playlist_.Entries().at(0);
  EXPECT_EQ(std::tie(entry.AudioPath, entry.CachePath, entry.SourcePath),
            std::tuple(audio_, InApp("Cache/Xmas.2024.csq"), "/shows/Xmas.2024.msq"));
  EXPECT_TRUE(fs::exists(entry.CachePath));
  EXPECT_TRUE(PlaylistSaved());
  EXPECT_FALSE(fs::exists(Temp("Xmas.2024")));
  EXPECT_EQ(window_.log, (std::vector<std::string>{"folder:/shows/", "preferences", "panel", "busy",
                                                   Status(kImportingStatus), "no panel", "stopped",
                                                   Status(kReadyStatus)}));
  EXPECT_EQ(ui_.hourglassChanges, (std::vector<bool>{true, false}));
  EXPECT_TRUE(window_.failures.empty());

  // The same folder again: the preferences are not rewritten.
  window_.log.clear();
  Import("/shows/b.msq");
  EXPECT_EQ(std::count(window_.log.begin(), window_.log.end(), "preferences"), 0);
  ASSERT_EQ(list_.items.size(), 2u);
  EXPECT_EQ(std::tie(list_.items[1].data, playlist_.Entries().at(1).CachePath),
            std::tuple(1, InApp("Cache/b.csq")));

  // Names come from the last separator, either way, and the last dot.
  Import("D:\\S.1\\c.final.msq");
  ASSERT_EQ(list_.items.size(), 3u);
  EXPECT_EQ(
      std::tie(list_.items[2].text, window_.lastImportFolder, playlist_.Entries().at(2).CachePath),
      std::tuple("Carol - Choir         (D:\\S.1\\c.final.msq)", "D:\\S.1\\",
                 InApp("Cache/c.final.csq")));
}

TEST_F(DriverTest, RefusedSequenceStillSavesThePlaylistAndCleansUp) {
  sequence_.filePath = dir_.File("gone.wav");  // and the audio dialog is cancelled

  Import("/shows/Xmas.msq");

  EXPECT_EQ(ui_.messages.size(), 2u);
  EXPECT_TRUE(list_.items.empty());
  EXPECT_TRUE(PlaylistSaved());
  EXPECT_FALSE(fs::exists(Temp("Xmas")));
  EXPECT_FALSE(fs::exists(InApp("Cache/Xmas.csq")));
  EXPECT_EQ(LogTail(), kStoppedAgain);
  // The compiler's last word is what the log keeps.
  EXPECT_EQ(window_.failures,
            std::vector<std::string>{"/shows/Xmas.msq | " + importer::NoAudioChosenMessage()});
}

// A fault in the document is told of the archive the user picked: the copy
// extracted into Temp means nothing to the user and is gone by then.
TEST_F(DriverTest, FaultyDocumentIsToldOfThePickedArchiveNotTheCopyInTemp) {
  launcher_.onRun = [](const std::vector<std::string>& argv) {
    fakes::WriteBytes(argv.at(4) + "Broken", "<Sequence>\n<Controller>\n</Sequence>");
  };

  Import("/shows/Broken.msq");

  ASSERT_EQ(ui_.messages.size(), 1u);
  const std::string& said = ui_.messages[0];
  EXPECT_EQ(said.rfind("The sequence \"/shows/Broken.msq\" cannot be imported (the document "
                       "\"Broken\" inside it): it is not well-formed XML on line 3",
                       0),
            0u)
      << said;
  EXPECT_EQ(said.find(Temp()), std::string::npos) << said;
  EXPECT_EQ(window_.failures, std::vector<std::string>{"/shows/Broken.msq | " + said});
  EXPECT_TRUE(list_.items.empty());
}

TEST_F(DriverTest, RefusalTellsTheUserOnceAndReturnsToTheStoppedState) {
  const std::string noDot =
      "\" cannot be imported: its name has no extension, so the name of the sequence inside it is "
      "not known.\r\n\r\nPlease choose a Spectrum sequence archive (.msq).";
  const std::string noDocument =
      "The archive \"/shows/Xmas.msq\" holds no sequence document named \"Xmas\" at its top "
      "level, so nothing was imported.";
  const std::string damaged =
      "The archive \"/shows/Xmas.msq\" is damaged or is not an archive, so nothing was "
      "imported.\r\n\r\n";
  const std::string fullDisk =
      "glimmer-extract: Cannot extract Xmas from the archive /shows/Xmas.msq: writing it failed: "
      "the disk holding /app/Temp is full (No space left on device)";
  struct Case {
    std::string archive, startError;
    bool extracts;
    int exitCode;
    std::string message;
    bool windowWentBusy = true;
    std::string errorOutput = "";
  };
  const Case cases[] = {
      {"/shows/Xmas", "", true, 0, "The file \"/shows/Xmas" + noDot, false},
      {"/shows/.msq", "", true, 0, "The file \"/shows/.msq" + noDot, false},
      {"/shows/Xmas.msq", "Cannot start the program /opt/rar/unrar: No such file", true, 0,
       "The sequence archive \"/shows/Xmas.msq\" could not be extracted, because the archiver "
       "could not be run.\r\n\r\nCannot start the program /opt/rar/unrar: No such file"},
      {"/shows/say \"hi\".msq", "", true, 0,
       "The sequence \"/shows/say \"hi\".msq\" cannot be imported.\r\n\r\nThe archive's path "
       "\"/shows/say \"hi\".msq\" holds a double quote (\"), which the archiver's command line "
       "cannot carry. Please rename it and try again.",
       false},
      // A line break would split the playlist file's entry.
      {"/shows/X\nmas.msq", "", true, 0,
       "The sequence \"/shows/X\\x0Amas.msq\" cannot be imported: its path holds a line break or "
       "another control character, which the playlist file cannot keep. Please rename it and try "
       "again.",
       false},
      {"/shows/Xmas.msq", "", false, 0, noDocument},
      // A damaged archive, or no archive: said first, in the archiver's own
      // words when it had any.
      {"/shows/Xmas.msq", "", false, 3, damaged + "The archiver ended with code 3."},
      {"/shows/Xmas.msq", "", false, 2,
       damaged + "The archiver said: entry Xmas does not match its CRC: the archive is damaged",
       true, "entry Xmas does not match its CRC: the archive is damaged\n"},
      // What it said is escaped. A full disk is named as such: the extractor
      // used to report success with the file's tail zeros, and the import
      // then called the document "not well-formed XML".
      {"/shows/Xmas.msq", "", false, 1,
       damaged + "The archiver said: refused entry \\x1B[2Jx\nrefused entry \\xC2\\x9By", true,
       "refused entry \x1B[2Jx\r\nrefused entry \xC2\x9B"
       "y\n"},
      {"/shows/Xmas.msq", "", false, 1,
       "The sequence archive \"/shows/Xmas.msq\" could not be extracted: the disk holding \"" +
           InApp("Temp") +
           "\" is full. Please free some space on it and import the sequence again.\r\n\r\n"
           "The archiver said: " +
           fullDisk,
       true, fullDisk + "\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    ui_.messages.clear();
    window_.log.clear();
    window_.failures.clear();
    launcher_.runs.clear();
    launcher_.startError = c.startError;
    launcher_.exitCode = c.exitCode;
    launcher_.errorOutput = c.errorOutput;
    extracts_ = c.extracts;
    // Left by an import that was cut short: never taken for this archive's.
    fs::create_directories(Temp());
    fakes::WriteBytes(Temp("Xmas"), fakes::ToXml(sequence_));

    Import(c.archive);

    EXPECT_EQ(ui_.messages, std::vector<std::string>{c.message});
    EXPECT_EQ(window_.failures, std::vector<std::string>{c.archive + " | " + c.message});
    EXPECT_TRUE(list_.items.empty());
    EXPECT_FALSE(PlaylistSaved());
    if (c.windowWentBusy) {
      EXPECT_EQ(LogTail(), kStoppedAgain);
      EXPECT_FALSE(fs::exists(Temp("Xmas")));
    } else {
      EXPECT_TRUE(window_.log.empty());
      EXPECT_TRUE(launcher_.runs.empty());
    }
  }
}

// What the archive holds instead is named; a folder under the document's
// name is no document, and stays.
TEST_F(DriverTest, ArchiveWithoutTheDocumentNamesWhatItHoldsInstead) {
  launcher_.onRun = [this](const std::vector<std::string>&) {
    fs::create_directories(Temp("Xmas"));
    fakes::WriteBytes(Temp("Carol"), fakes::ToXml(sequence_));
  };
  Import("/shows/Xmas.msq");
  EXPECT_EQ(ui_.messages, std::vector<std::string>{
                              "The archive \"/shows/Xmas.msq\" holds no sequence document named "
                              "\"Xmas\" at its top level, so nothing was imported.\r\n\r\nIt "
                              "holds \"Carol\", \"Xmas\"."});
  EXPECT_TRUE(fs::is_directory(Temp("Xmas")));
  EXPECT_TRUE(list_.items.empty());
  EXPECT_EQ(LogTail(), kStoppedAgain);
}

TEST_F(DriverTest, FolderThatCannotBeCreatedIsRefused) {
  fakes::WriteBytes(InApp("Temp"), "a file where the folder belongs");
  Import("/shows/Xmas.msq");
  ASSERT_EQ(ui_.messages.size(), 1u);
  EXPECT_NE(ui_.messages[0].find("the folder \"" + Temp() + "\" cannot be created"),
            std::string::npos)
      << ui_.messages[0];
  EXPECT_TRUE(launcher_.runs.empty());
  EXPECT_EQ(LogTail(), kStoppedAgain);
}

// A damaged archive kept the archiver running for ever and the window
// frozen, deaf to closing.
TEST_F(DriverTest, ArchiverPastItsTimeLimitIsEndedAndTheImportSaysSo) {
  launcher_.watchSteps = 1000;  // it would run far longer than allowed
  secondsPerQuestion_ = std::chrono::seconds(100);
  const int eventsBefore = ui_.doEventsCount;
  Import("/shows/Xmas.msq");
  EXPECT_EQ(ui_.messages,
            std::vector<std::string>{
                "The sequence archive \"/shows/Xmas.msq\" could not be extracted: the archiver was "
                "still running after 300 seconds, so the import ended it. The archive may be "
                "damaged.\r\n\r\nNothing was imported."});
  EXPECT_EQ(launcher_.watched, 3);                 // 100, 200, 300 seconds
  EXPECT_GE(ui_.doEventsCount - eventsBefore, 3);  // the window answered meanwhile
  EXPECT_EQ(LogTail(), kStoppedAgain);

  // Closing the window ends it at once, and says nothing more.
  ui_.messages.clear();
  launcher_.watched = 0;
  secondsPerQuestion_ = std::chrono::seconds(0);
  window_.cancelled = true;
  Import("/shows/Xmas.msq");
  EXPECT_TRUE(ui_.messages.empty());
  EXPECT_EQ(launcher_.watched, 1);
  EXPECT_TRUE(list_.items.empty());
}

// A folder left in Temp under a sequence's name made every later import of
// that name fail.
TEST_F(DriverTest, LeftoverUnderTheSequencesNameIsReplacedInsideTempOnly) {
  fs::create_directories(Temp("Xmas/inner"));
  fakes::WriteBytes(Temp("Xmas/inner/file"), "left over");
  fs::create_directories(dir_.File("outside"));
  fakes::WriteBytes(dir_.File("outside/keep"), "not ours");
  Import("/shows/Xmas.msq");
  EXPECT_TRUE(ui_.messages.empty()) << ui_.messages[0];
  EXPECT_EQ(list_.items.size(), 1u);
  // "." and ".." would name Temp itself and the program's folder.
  for (const std::string dots : {"/shows/..msq", "/shows/...msq"}) Import(dots);
  EXPECT_TRUE(fs::is_directory(Temp()));
  EXPECT_TRUE(fs::exists(dir_.File("outside/keep")));
}

#ifndef _WIN32
// Windows (and Wine) let no ordinary user make a symbolic link, so a link
// left in Temp is a case for the Linux build alone.
TEST_F(DriverTest, LinkLeftInTempIsRemovedWithoutFollowingIt) {
  fs::create_directories(Temp());
  fs::create_directories(dir_.File("outside"));
  fakes::WriteBytes(dir_.File("outside/keep"), "not ours");
  fs::create_symlink(dir_.File("outside"), Temp("Link"));
  Import("/shows/Link.msq");
  EXPECT_TRUE(fs::exists(dir_.File("outside/keep")));
  EXPECT_TRUE(fs::is_directory(Temp()));
}
#endif

// A title holding a line break went into playlist.txt as an extra line, and
// at the next start that entry and the good one after it were dropped.
TEST_F(DriverTest, ControlCharactersNeverReachThePlaylistFile) {
  sequence_.title = "Carol&#10;of the&#13;Bells";
  Import("/shows/Xmas.msq");
  ASSERT_EQ(list_.items.size(), 1u);
  EXPECT_EQ(list_.items[0].text, "Carol of the Bells - Choir         (/shows/Xmas.msq)");
  EXPECT_EQ(ui_.messages,
            std::vector<std::string>{
                "The title of the sequence \"/shows/Xmas.msq\" held line breaks or other control "
                "characters, which the playlist cannot keep; they were replaced by blanks: Carol "
                "of the Bells - Choir"});
  const std::string file = fakes::ReadBytes(playlistFile_);
  EXPECT_EQ(std::count(file.begin(), file.end(), '\n'), 6) << file;
}

}  // namespace
}  // namespace importer
