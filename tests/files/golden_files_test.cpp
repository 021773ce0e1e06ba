// Files as users already have them, written by the first release of each
// format and committed byte for byte. Each must still load to the values
// below, and writing those values must give the committed bytes again: a
// change that breaks either makes the files on users' machines unreadable or
// different. Whatever they are given, the one-value-per-line files keep one
// value per line, and a value too long to be the program's own is not kept.

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "platform/system.h"
#include "playlist/playlist.h"
#include "sequence_format/event_table.h"
#include "sequence_format/sequence_cache.h"
#include "shell/preferences.h"
#include "tests/fakes/fake_file_store.h"
#include "tests/fakes/fake_list_box.h"
#include "tests/fakes/fake_user_interface.h"
#include "tests/fakes/temp_dir.h"
#include "tests/import/import_support.h"

namespace {

std::string Golden(const std::string& name) {
  return std::string(GLIMMER_GOLDEN_DIR) + "/v1/" + name;
}

using import_test::null;

// Playback order; fades with and without timing codes, both banks, a merged
// channel mask, equal sample numbers ordered by device and channel, and an
// entry an hour long.
const std::vector<import_test::Values> kCacheRows = {
    {0, 1, 1, 34, 0, 255, 19, 195},          {0, 1, 2, 33, 255, 255, null, null},
    {0, 2, 128, 24, 240, 240, 1, 10},        {44100, 1, 1, 36, 0, 0, null, null},
    {44100, 1, 6, 37, 100, 0, null, null},   {88200, 3, 255, 23, 255, 255, null, null},
    {88200, 3, 255, 34, 255, 0, null, null}, {317520000, 1000, 128, 26, 0, 0, null, null},
};

TEST(GoldenFilesTest, CacheVersion1LoadsToItsRowsAndTheRowsWriteTheSameBytes) {
  const std::string golden = fakes::ReadBytes(Golden("Jingle Bells.csq"));
  ASSERT_EQ(golden.size(), 407u);

  auto loaded = sequence_format::LoadSequenceCache(Golden("Jingle Bells.csq"));
  ASSERT_TRUE(loaded.ok()) << loaded.message();
  EXPECT_EQ(import_test::ReadAll(loaded.value()), kCacheRows);

  fakes::TempDir dir;
  const std::unique_ptr<platform::FileStore> store = platform::MakeFileStore();
  platform::FileStore& files = *store;
  ASSERT_TRUE(sequence_format::SaveSequenceCache(import_test::MakeTable(kCacheRows),
                                                 dir.File("Jingle Bells.csq"), files)
                  .ok());
  EXPECT_EQ(fakes::ReadBytes(dir.File("Jingle Bells.csq")), golden);
}

TEST(GoldenFilesTest, PlaylistVersion1LoadsToItsEntriesAndTheEntriesWriteTheSameBytes) {
  const std::string golden = fakes::ReadBytes(Golden("playlist.txt"));
  ASSERT_FALSE(golden.empty());
  // Windows-1252 bytes pass through unchanged: e with diaeresis 0xEB, oe 0x9C.
  const std::vector<playlist::PlaylistEntry> expected = {
      {"/home/show/Audio/Jingle Bells.mp3", "/opt/glimmerfield/Cache/Jingle Bells.csq",
       "Jingle Bells - Winter Band         (/home/show/Shows/Jingle Bells.msq)", "0.94",
       "/home/show/Shows/Jingle Bells.msq"},
      {"/home/show/Audio/ No\xEBl, \"live\".wav", "/opt/glimmerfield/Cache/ No\xEBl, \"live\".csq",
       " No\xEBl, \"live\" - Ch\x9Cur         (/home/show/Shows/ No\xEBl, \"live\".msq)", "1.0",
       "/home/show/Shows/ No\xEBl, \"live\".msq"},
  };
  auto fields = [](const playlist::PlaylistEntry& e) {
    return std::tie(e.AudioPath, e.CachePath, e.ListText, e.Version, e.SourcePath);
  };

  fakes::TempDir dir;
  fakes::WriteBytes(dir.File("playlist.txt"), golden);
  fakes::FakeListBox list;
  fakes::FakeUserInterface ui;
  const std::unique_ptr<platform::FileStore> store = platform::MakeFileStore();
  platform::FileStore& files = *store;
  playlist::Playlist loaded(list, ui, files, dir.File("playlist.txt"));
  loaded.LoadPlaylist();
  EXPECT_TRUE(ui.messages.empty());
  ASSERT_EQ(loaded.RowCount(), 2);
  for (int row = 0; row < 2; ++row) {
    EXPECT_EQ(fields(loaded.EntryAtRow(row)), fields(expected[static_cast<std::size_t>(row)]));
    EXPECT_EQ(list.Text(row), expected[static_cast<std::size_t>(row)].ListText);
  }

  fakes::FakeListBox freshList;
  playlist::Playlist written(freshList, ui, files, dir.File("fresh.txt"));
  for (const auto& entry : expected) written.AddPlaylistEntry(entry);
  ASSERT_TRUE(written.SavePlaylist().ok());
  EXPECT_EQ(fakes::ReadBytes(dir.File("fresh.txt")), golden);
}

TEST(GoldenFilesTest, PreferencesVersion1LoadsToItsSettingsAndTheSettingsWriteTheSameBytes) {
  const std::string golden = fakes::ReadBytes(Golden("preferences.txt"));
  const shell::Preferences expected = {
      "3", "56000", "7", "5:30:00 PM", "11:59:59 PM", "1", "/home/show/Shows, Summer \"Caf\xE9\""};
  auto fields = [](const shell::Preferences& p) {
    return std::tie(p.port, p.dataRate, p.frameTiming, p.startTime, p.endTime, p.autostart,
                    p.lastImportFolder);
  };

  fakes::TempDir dir;
  fakes::FakeUserInterface ui;
  const std::unique_ptr<platform::FileStore> store = platform::MakeFileStore();
  platform::FileStore& files = *store;
  fakes::WriteBytes(dir.File("preferences.txt"), golden);
  shell::PreferencesFile file(dir.File("preferences.txt"), files, ui);
  EXPECT_EQ(fields(file.Read()), fields(expected));

  shell::PreferencesFile fresh(dir.File("fresh.txt"), files, ui);
  fresh.Save(expected);
  EXPECT_TRUE(ui.messages.empty());
  EXPECT_EQ(fakes::ReadBytes(dir.File("fresh.txt")), golden);
}

// A preferences line of 500 MB was read whole and rewritten on every save.
TEST(PreferencesFile, LongValuesAreDroppedAndLineBreaksNeverShiftLines) {
  fakes::TempDir dir;
  fakes::FakeFileStore files;
  fakes::FakeUserInterface ui;
  const std::string path = dir.File("preferences.txt");
  shell::PreferencesFile preferences(path, files, ui);

  fakes::WriteBytes(path, "3\r\n56000\r\n5\r\n5:30:00 PM\r\n11:00:00 PM\r\n1\r\n" +
                              std::string(100000, 'x') + "\r\n");
  const shell::Preferences read = preferences.Read();
  // The default "c:\" takes the long value's place.
  EXPECT_EQ(std::tie(read.port, read.autostart, read.lastImportFolder), std::tuple("3", "1", ""));

  shell::Preferences written = read;
  written.lastImportFolder = "/shows/a\r\nb/";
  written.startTime = std::string(10000, 'y');
  preferences.Save(written);
  const std::string file = fakes::ReadBytes(path);
  EXPECT_EQ(file, "3\r\n56000\r\n5\r\n\r\n11:00:00 PM\r\n1\r\n/shows/a  b/\r\n");
  EXPECT_EQ(preferences.Read().lastImportFolder, "/shows/a  b/");
}

}  // namespace
