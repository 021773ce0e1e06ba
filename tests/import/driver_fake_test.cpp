#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "import/import_driver.h"
#include "playlist/playlist.h"
#include "tests/fakes/fake_file_store.h"
#include "tests/fakes/fake_list_box.h"
#include "tests/fakes/fake_process_launcher.h"
#include "tests/fakes/fake_user_interface.h"
#include "tests/fakes/temp_dir.h"
#include "tests/import/sequence_xml.h"

namespace importer {
namespace {

namespace fs = std::filesystem;

class FakeImportWindow : public ImportWindow {
 public:
  explicit FakeImportWindow(playlist::Playlist& playlist) : playlist_(playlist) {}

  void SetStatus(const std::string& text) override {
    if (text.rfind("Parsing XML", 0) != 0 && text.rfind("Optimization", 0) != 0 &&
        text.rfind("Generating", 0) != 0 && text.rfind("Sorting", 0) != 0 &&
        text.rfind("Writing", 0) != 0) {
      log.push_back("status:" + text);
    }
  }
  bool PerformBitmask() const override { return false; }
  void ShowImportingPanel(bool visible) override {
    log.push_back(visible ? "panel:shown" : "panel:hidden");
  }
  void SetBusyState() override { log.push_back("busy"); }
  void SetStoppedState() override { log.push_back("stopped"); }
  std::string LastImportFolder() const override { return lastImportFolder; }
  void SetLastImportFolder(const std::string& folder) override {
    lastImportFolder = folder;
    log.push_back("folder:" + folder);
  }
  void SavePreferences() override { log.push_back("preferences"); }
  playlist::Playlist& Playlist() override { return playlist_; }

  std::string lastImportFolder;
  std::vector<std::string> log;

 private:
  playlist::Playlist& playlist_;
};

// The window's log with the hourglass changes merged in.
class HourglassUi : public fakes::FakeUserInterface {
 public:
  explicit HourglassUi(std::vector<std::string>& log) : log_(log) {}
  void SetHourglass(bool busy) override {
    log_.push_back(busy ? "hourglass:on" : "hourglass:off");
    FakeUserInterface::SetHourglass(busy);
  }

 private:
  std::vector<std::string>& log_;
};

const std::vector<std::string> kStoppedAgain = {"hourglass:off", "panel:hidden", "stopped",
                                                "status:Ready"};

class DriverTest : public ::testing::Test {
 protected:
  DriverTest()
      : playlist_(list_, ui_, files_, dir_.File("playlist.txt")),
        window_(playlist_),
        ui_(window_.log),
        appDir_(dir_.File("app")) {
    fs::create_directories(appDir_);
    audio_ = dir_.File("song.wav");
    fakes::WriteBytes(audio_, "RIFF");
    sequence_.filePath = audio_;
    sequence_.controllers = {{"1", {{"1", {{"0", "1", "0", "255"}}}}}};
    // The archiver "extracts" the document named after the archive.
    launcher_.onRun = [this](const std::vector<std::string>& argv) {
      if (!extracts) return;
      const auto names = DeriveArchiveNames(argv.at(3));
      fakes::WriteBytes(argv.at(4) + names->baseName, sequence_xml::ToXml(sequence_));
    };
  }

  void Import(const std::string& archive) {
    ui_.dialogAnswers.push_back(archive);
    ImportDriver driver(window_, appDir_, "/opt/rar/unrar", launcher_, ui_, files_);
    driver.cmdPlayListAdd_Click();
  }

  std::string Temp(const std::string& name = "") const { return appDir_ + "/Temp/" + name; }
  bool PlaylistSaved() const {
    return std::count(files_.written.begin(), files_.written.end(), dir_.File("playlist.txt")) > 0;
  }
  std::vector<std::string> LogTail(std::size_t n) const {
    const auto& log = window_.log;
    return {log.end() - static_cast<std::ptrdiff_t>(std::min(n, log.size())), log.end()};
  }

  fakes::TempDir dir_;
  fakes::FakeListBox list_;
  fakes::FakeFileStore files_;
  playlist::Playlist playlist_;
  FakeImportWindow window_;
  HourglassUi ui_;
  fakes::FakeProcessLauncher launcher_;
  std::string appDir_, audio_;
  sequence_xml::Sequence sequence_;
  bool extracts = true;
};

TEST_F(DriverTest, CancelledDialogDoesNothing) {
  window_.lastImportFolder = "/shows/";
  ImportDriver driver(window_, appDir_, "/opt/rar/unrar", launcher_, ui_, files_);
  driver.cmdPlayListAdd_Click();

  ASSERT_EQ(ui_.dialogs.size(), 1u);
  EXPECT_EQ(ui_.dialogs[0].filter, "Spectrum Sequences (*.msq) | *.msq");
  EXPECT_EQ(ui_.dialogs[0].title, "Add Sequence To Playlist");
  EXPECT_EQ(ui_.dialogs[0].initialFolder, "/shows/");
  EXPECT_EQ(ui_.dialogs[0].fileName, "");
  EXPECT_TRUE(window_.log.empty());
  EXPECT_TRUE(launcher_.runs.empty());
  EXPECT_FALSE(fs::exists(Temp()));
}

TEST_F(DriverTest, ImportsAnArchiveIntoTheFirstPlaylistElement) {
  Import("/shows/Xmas.2024.msq");

  ASSERT_EQ(launcher_.runs.size(), 1u);
  EXPECT_EQ(launcher_.runs[0], (std::vector<std::string>{"/opt/rar/unrar", "X", "-o+",
                                                         "/shows/Xmas.2024.msq", Temp()}));
  EXPECT_TRUE(ui_.messages.empty()) << ui_.messages[0];
  ASSERT_EQ(list_.items.size(), 1u);
  EXPECT_EQ(list_.items[0].text, "Carol - Choir         (/shows/Xmas.2024.msq)");
  EXPECT_EQ(list_.items[0].data, 0);
  ASSERT_EQ(playlist_.Entries().size(), 1u);
  const playlist::PlaylistEntry& entry = playlist_.Entries()[0];
  EXPECT_EQ(entry.AudioPath, audio_);
  EXPECT_EQ(entry.CachePath, appDir_ + "/Cache/Xmas.2024.csq");
  EXPECT_EQ(entry.Version, "0.94");
  EXPECT_EQ(entry.SourcePath, "/shows/Xmas.2024.msq");
  EXPECT_TRUE(fs::exists(entry.CachePath));
  EXPECT_TRUE(PlaylistSaved());
  EXPECT_FALSE(fs::exists(Temp("Xmas.2024")));

  const std::vector<std::string> expected = {"folder:/shows/",
                                             "preferences",
                                             "panel:shown",
                                             "busy",
                                             "status:" + std::string(kImportingStatus),
                                             "hourglass:on",
                                             "hourglass:off",
                                             "panel:hidden",
                                             "stopped",
                                             "status:Ready"};
  EXPECT_EQ(window_.log, expected);
  EXPECT_EQ(window_.lastImportFolder, "/shows/");
}

TEST_F(DriverTest, SecondImportGetsTheNextElementAndSameFolderKeepsThePreferences) {
  Import("/shows/a.msq");
  window_.log.clear();
  Import("/shows/b.msq");

  EXPECT_EQ(std::count(window_.log.begin(), window_.log.end(), "preferences"), 0);
  ASSERT_EQ(list_.items.size(), 2u);
  EXPECT_EQ(list_.items[1].data, 1);
  EXPECT_EQ(playlist_.Entries()[1].CachePath, appDir_ + "/Cache/b.csq");
}

TEST_F(DriverTest, WindowsPathsSplitAtBackslashes) {
  Import("D:\\S\\c.msq");

  ASSERT_EQ(list_.items.size(), 1u);
  EXPECT_EQ(list_.items[0].text, "Carol - Choir         (D:\\S\\c.msq)");
  EXPECT_EQ(window_.lastImportFolder, "D:\\S\\");
  EXPECT_EQ(playlist_.Entries()[0].CachePath, appDir_ + "/Cache/c.csq");
}

TEST_F(DriverTest, RefusedSequenceStillSavesThePlaylistAndCleansUp) {
  sequence_.filePath = dir_.File("gone.wav");  // and the audio dialog is cancelled

  Import("/shows/Xmas.msq");

  EXPECT_EQ(ui_.messages.size(), 2u);
  EXPECT_TRUE(list_.items.empty());
  EXPECT_TRUE(PlaylistSaved());
  EXPECT_FALSE(fs::exists(Temp("Xmas")));
  EXPECT_FALSE(fs::exists(appDir_ + "/Cache/Xmas.csq"));
  EXPECT_EQ(LogTail(4), kStoppedAgain);
}

struct RefusalCase {
  const char* name;
  std::string archive;
  std::string startError;  // the archiver cannot be started
  bool extracts;
  int exitCode;
  std::string expectedMessage;
  bool windowWentBusy;
};

void PrintTo(const RefusalCase& c, std::ostream* os) {
  *os << c.name;
}

const RefusalCase kRefusals[] = {
    {"NoDotInFileName", "/shows/Xmas", "", true, 0,
     "The file \"/shows/Xmas\" cannot be imported: its name has no extension, so the name of the "
     "sequence inside it is not known.\r\n\r\nPlease choose a Spectrum sequence archive (.msq).",
     false},
    {"NothingBeforeTheDot", "/shows/.msq", "", true, 0,
     "The file \"/shows/.msq\" cannot be imported: its name has no extension, so the name of the "
     "sequence inside it is not known.\r\n\r\nPlease choose a Spectrum sequence archive (.msq).",
     false},
    {"ArchiverCannotStart", "/shows/Xmas.msq",
     "Cannot start the program /opt/rar/unrar: No such file", true, 0,
     "The sequence archive \"/shows/Xmas.msq\" could not be extracted, because the archiver could "
     "not be run.\r\n\r\nCannot start the program /opt/rar/unrar: No such file",
     true},
    {"NoDocumentInArchive", "/shows/Xmas.msq", "", false, 0,
     "The archive \"/shows/Xmas.msq\" holds no sequence document named \"Xmas\" at its top level, "
     "so nothing was imported.",
     true},
    {"BrokenArchive", "/shows/Xmas.msq", "", false, 3,
     "The archive \"/shows/Xmas.msq\" holds no sequence document named \"Xmas\" at its top level, "
     "so nothing was imported.\r\n\r\nThe archiver ended with code 3.",
     true},
};

class DriverRefusal : public DriverTest, public ::testing::WithParamInterface<RefusalCase> {};

TEST_P(DriverRefusal, TellsTheUserOnceAndReturnsToTheStoppedState) {
  const RefusalCase& c = GetParam();
  launcher_.startError = c.startError;
  launcher_.exitCode = c.exitCode;
  extracts = c.extracts;
  // Left by an import that was cut short: never taken for this archive's.
  fs::create_directories(Temp());
  fakes::WriteBytes(Temp("Xmas"), sequence_xml::ToXml(sequence_));

  Import(c.archive);

  ASSERT_EQ(ui_.messages.size(), 1u);
  EXPECT_EQ(ui_.messages[0], c.expectedMessage);
  EXPECT_TRUE(list_.items.empty());
  EXPECT_FALSE(PlaylistSaved());
  if (c.windowWentBusy) {
    EXPECT_EQ(LogTail(4), kStoppedAgain);
    EXPECT_FALSE(fs::exists(Temp("Xmas")));
  } else {
    EXPECT_TRUE(window_.log.empty());
    EXPECT_TRUE(launcher_.runs.empty());
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, DriverRefusal, ::testing::ValuesIn(kRefusals),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(DriverTest, AFolderNamedLikeTheDocumentIsNoDocumentAndStays) {
  extracts = false;
  launcher_.onRun = [this](const std::vector<std::string>&) {
    fs::create_directories(Temp("Xmas"));
  };

  Import("/shows/Xmas.msq");

  ASSERT_EQ(ui_.messages.size(), 1u);
  EXPECT_NE(ui_.messages[0].find("holds no sequence document named \"Xmas\""), std::string::npos);
  EXPECT_TRUE(fs::is_directory(Temp("Xmas")));
  EXPECT_EQ(LogTail(4), kStoppedAgain);
}

TEST_F(DriverTest, FolderThatCannotBeCreatedIsRefused) {
  fakes::WriteBytes(appDir_ + "/Temp", "a file where the folder belongs");

  Import("/shows/Xmas.msq");

  ASSERT_EQ(ui_.messages.size(), 1u);
  EXPECT_NE(ui_.messages[0].find("the folder \"" + Temp() + "\" cannot be created"),
            std::string::npos)
      << ui_.messages[0];
  EXPECT_TRUE(launcher_.runs.empty());
  EXPECT_EQ(LogTail(4), kStoppedAgain);
}

TEST_F(DriverTest, DerivesNamesFromTheLastSeparatorAndTheLastDot) {
  const auto names = DeriveArchiveNames("/a.b/Show.final.msq");
  ASSERT_TRUE(names);
  EXPECT_EQ(names->folder, "/a.b/");
  EXPECT_EQ(names->fileName, "Show.final.msq");
  EXPECT_EQ(names->baseName, "Show.final");
  EXPECT_FALSE(DeriveArchiveNames("/a.b/Show"));
  EXPECT_EQ(
      ArchiverCommandLine("C:\\Tools\\WinRAR.exe", "D:\\Shows\\Xmas.2024.msq", "C:\\App\\Temp\\"),
      "C:\\Tools\\WinRAR.exe X -o+ \"D:\\Shows\\Xmas.2024.msq\" \"C:\\App\\Temp\\\"");
}

}  // namespace
}  // namespace importer
