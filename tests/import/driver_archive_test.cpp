// The whole import with the real extractor program and process launcher: a
// RAR archive written by the test goes in, a playlist entry and a cache file
// come out.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "import/import_driver.h"
#include "import/sequence_cache.h"
#include "platform/paths.h"
#include "platform/posix/posix_file_store.h"
#include "platform/posix/posix_process_launcher.h"
#include "playlist/playlist.h"
#include "tests/fakes/fake_list_box.h"
#include "tests/fakes/fake_user_interface.h"
#include "tests/fakes/rar_writer.h"
#include "tests/fakes/temp_dir.h"
#include "tests/import/sequence_xml.h"

namespace importer {
namespace {

namespace fs = std::filesystem;

class Window : public ImportWindow {
 public:
  explicit Window(playlist::Playlist& playlist) : playlist_(playlist) {}
  void SetStatus(const std::string& text) override { status = text; }
  bool PerformBitmask() const override { return true; }
  void ShowImportingPanel(bool) override {}
  void SetBusyState() override {}
  void SetStoppedState() override { ++stopped; }
  std::string LastImportFolder() const override { return folder; }
  void SetLastImportFolder(const std::string& f) override { folder = f; }
  void SavePreferences() override {}
  playlist::Playlist& Playlist() override { return playlist_; }

  std::string status, folder;
  int stopped = 0;

 private:
  playlist::Playlist& playlist_;
};

// The extractor is built beside the test programs.
std::string Extractor() {
  return platform::ApplicationDirectory() + "/glimmer-extract";
}

class ArchiveImportTest : public ::testing::Test {
 protected:
  ArchiveImportTest()
      : appDir_(dir_.File("Glimmer Field")),  // a blank in the path, as on many desktops
        playlist_(list_, ui_, files_, appDir_ + "/playlist.txt"),
        window_(playlist_) {
    fs::create_directories(appDir_);
    fakes::WriteBytes(dir_.File("song.wav"), "RIFF");
  }

  void Import(const std::string& archive) {
    ui_.dialogAnswers.push_back(archive);
    ImportDriver driver(window_, appDir_, Extractor(), launcher_, ui_, files_);
    driver.cmdPlayListAdd_Click();
  }

  fakes::TempDir dir_;
  std::string appDir_;
  fakes::FakeListBox list_;
  fakes::FakeUserInterface ui_;
  platform::PosixFileStore files_;
  platform::PosixProcessLauncher launcher_;
  playlist::Playlist playlist_;
  Window window_;
};

TEST_F(ArchiveImportTest, ImportsARarArchiveEndToEnd) {
  ASSERT_TRUE(fs::exists(Extractor())) << Extractor();
  sequence_xml::Sequence sequence;
  sequence.filePath = dir_.File("song.wav");
  // Channels 1 and 3 get the same command at the same moment: the bitmask
  // step folds them into one row.
  sequence.controllers = {
      {"2",
       {{"1", {{"0", "3", "9", "9"}}}, {"3", {{"0", "3", "9", "9"}, {"44100", "5", "1", "1"}}}}}};
  const std::string archive = dir_.File("Xmas 2024.msq");
  fakes::WriteRar4(archive,
                   {{"Xmas 2024", sequence_xml::ToXml(sequence)}, {"notes\\readme.txt", "kept"}});

  Import(archive);

  ASSERT_TRUE(ui_.messages.empty()) << ui_.messages[0];
  ASSERT_EQ(list_.items.size(), 1u);
  EXPECT_EQ(list_.items[0].text, "Carol - Choir         (" + archive + ")");
  const playlist::PlaylistEntry& entry = playlist_.Entries()[0];
  EXPECT_EQ(entry.AudioPath, dir_.File("song.wav"));
  auto cache = LoadSequenceCache(entry.CachePath);
  ASSERT_TRUE(cache.ok()) << cache.message();
  EXPECT_EQ(cache.value().RowCount(), 2u);
  EXPECT_EQ(cache.value().Get(Column::Channel), 1 + 4);
  EXPECT_TRUE(fs::exists(appDir_ + "/playlist.txt"));
  EXPECT_FALSE(fs::exists(appDir_ + "/Temp/Xmas 2024"));
  EXPECT_TRUE(fs::exists(appDir_ + "/Temp/notes/readme.txt"));
  EXPECT_EQ(window_.status, "Ready");
}

TEST_F(ArchiveImportTest, DamagedArchiveIsRefusedWithTheArchiversCode) {
  const std::string archive = dir_.File("Broken.msq");
  constexpr char kNotRar[] = "Rar!\x1A\x07\x00 this is not a real archive";
  fakes::WriteBytes(archive, std::string_view(kNotRar, sizeof kNotRar - 1));

  Import(archive);

  ASSERT_EQ(ui_.messages.size(), 1u);
  EXPECT_NE(ui_.messages[0].find("holds no sequence document named \"Broken\""), std::string::npos);
  EXPECT_NE(ui_.messages[0].find("The archiver ended with code"), std::string::npos);
  EXPECT_TRUE(list_.items.empty());
  EXPECT_EQ(window_.stopped, 1);
}

}  // namespace
}  // namespace importer
