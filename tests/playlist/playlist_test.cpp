#include "playlist/playlist.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/posix/posix_file_store.h"
#include "tests/fakes/fake_file_store.h"
#include "tests/fakes/fake_list_box.h"
#include "tests/fakes/fake_user_interface.h"
#include "tests/fakes/temp_dir.h"

namespace {

using playlist::PlaylistEntry;

const std::string kHeader = "\2600.94\r\n";  // 0xB0 (octal 260), then 0.94

PlaylistEntry Entry(const std::string& name, const std::string& version = "0.94") {
  return {"/shows/audio/" + name + ".mp3", "/app/Cache/" + name + ".csq",
          name + " - Artist         (/shows/" + name + ".msq)", version, "/shows/" + name + ".msq"};
}

// The five lines of one entry as the file holds them: Version last.
std::string FileLines(const PlaylistEntry& e) {
  return e.AudioPath + "\r\n" + e.CachePath + "\r\n" + e.ListText + "\r\n" + e.SourcePath + "\r\n" +
         e.Version + "\r\n";
}

class PlaylistTest : public ::testing::Test {
 protected:
  fakes::TempDir dir;
  fakes::FakeListBox list;
  fakes::FakeUserInterface ui;
  fakes::FakeFileStore files;
  std::string path = dir.File("playlist.txt");
  playlist::Playlist playlist{list, ui, files, path};

  std::vector<std::string> Texts() const {
    std::vector<std::string> texts;
    for (const auto& item : list.items) texts.push_back(item.text);
    return texts;
  }
  std::vector<int> Data() const {
    std::vector<int> data;
    for (const auto& item : list.items) data.push_back(item.data);
    return data;
  }
  // Adds entries named "a", "b", ... the way imports do.
  void AddNamed(std::initializer_list<const char*> names) {
    for (const char* name : names) playlist.AddPlaylistEntry(Entry(name));
  }
  void Load(const std::string& bytes) {
    fakes::WriteBytes(path, bytes);
    playlist.LoadPlaylist();
  }
};

// --- file format -----------------------------------------------------------

TEST_F(PlaylistTest, EmptyPlaylistIsTheHeaderAloneAndLoadsBackEmpty) {
  ASSERT_TRUE(playlist.SavePlaylist().ok());
  EXPECT_EQ(fakes::ReadBytes(path), std::string("\xB0\x30\x2E\x39\x34\r\n"));

  playlist.LoadPlaylist();
  EXPECT_EQ(list.Count(), 0);
  EXPECT_TRUE(ui.messages.empty());
}

TEST_F(PlaylistTest, SavedFileListsFiveLinesPerItemWithVersionLast) {
  playlist.AddPlaylistEntry({"C:\\Shows\\Audio\\song.mp3", "C:\\Player\\Cache\\song.csq",
                             "Song Title - Some Artist         (C:\\Shows\\song.msq)", "0.94",
                             "C:\\Shows\\song.msq"});
  ASSERT_TRUE(playlist.SavePlaylist().ok());
  EXPECT_EQ(fakes::ReadBytes(path), kHeader +
                                        "C:\\Shows\\Audio\\song.mp3\r\n"
                                        "C:\\Player\\Cache\\song.csq\r\n"
                                        "Song Title - Some Artist         (C:\\Shows\\song.msq)\r\n"
                                        "C:\\Shows\\song.msq\r\n"
                                        "0.94\r\n");
}

TEST_F(PlaylistTest, AwkwardValuesComeBackUnchanged) {
  const std::vector<PlaylistEntry> entries = {
      {"/a, b/song.mp3", "  /lead/blanks.csq", "\"Quoted\", title - \"Artist\"  ", "0.94",
       "C:\\x,y\\\"q\".msq"},
      {"/shows/caf\xE9.wav", "/c/d.csq", " , \" ,", "1.0", "/s/t.msq"},
      {"/missing/audio.mp3", "/missing/cache.csq", "Gone - Files", "0.94", "/gone.msq"},
  };
  for (const auto& e : entries) playlist.AddPlaylistEntry(e);
  ASSERT_TRUE(playlist.SavePlaylist().ok());

  fakes::FakeListBox list2;
  playlist::Playlist reloaded(list2, ui, files, path);
  reloaded.LoadPlaylist();

  EXPECT_TRUE(ui.messages.empty());
  ASSERT_EQ(reloaded.RowCount(), 3);
  for (int row = 0; row < 3; ++row) {
    const auto& want = entries[static_cast<std::size_t>(row)];
    const auto& got = reloaded.EntryAtRow(row);
    EXPECT_EQ(got.AudioPath, want.AudioPath);
    EXPECT_EQ(got.CachePath, want.CachePath);
    EXPECT_EQ(got.ListText, want.ListText);
    EXPECT_EQ(got.Version, want.Version);
    EXPECT_EQ(got.SourcePath, want.SourcePath);
    EXPECT_EQ(list2.Text(row), want.ListText);
  }
}

// --- loading: header and version checks -----------------------------------

struct HeaderCase {
  const char* name;
  std::string fileHeader;  // the first line with its line end, or the whole file
  bool loads;
};

class HeaderCheckTest : public PlaylistTest, public ::testing::WithParamInterface<HeaderCase> {};

TEST_P(HeaderCheckTest, OldOrForeignHeaderGivesMessageAAndAnEmptyList) {
  const auto& c = GetParam();
  const std::string bytes = c.fileHeader + FileLines(Entry("a"));
  Load(bytes);

  if (c.loads) {
    EXPECT_TRUE(ui.messages.empty());
    EXPECT_EQ(list.Count(), 1);
  } else {
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(ui.messages[0],
              "Your playlist was created before version 0.94.  Please re-add your .msq files to "
              "your playlist. (this is not an error message)");
    EXPECT_EQ(list.Count(), 0);
    EXPECT_EQ(playlist.Entries().size(), 1u);
  }
  EXPECT_TRUE(files.written.empty());
  EXPECT_EQ(fakes::ReadBytes(path), bytes);
}

// "\260" is the degree sign, byte 0xB0, as an octal escape: it stops after
// three digits, so "\2600.94" is B0 30 2E 39 34.
INSTANTIATE_TEST_SUITE_P(Headers, HeaderCheckTest,
                         ::testing::Values(HeaderCase{"Current", "\2600.94\r\n", true},
                                           HeaderCase{"Newer", "\2601.0\r\n", true},
                                           HeaderCase{"NewerWithBlanks", "\260 1.2 \r\n", true},
                                           HeaderCase{"NoDegreeSign", "0.94\r\n", false},
                                           HeaderCase{"Older", "\2600.93\r\n", false},
                                           HeaderCase{"NotANumber", "\260abc\r\n", false},
                                           HeaderCase{"NumberWithTail", "\2600.94b\r\n", false},
                                           HeaderCase{"DegreeSignAlone", "\260\r\n", false},
                                           HeaderCase{"EmptyFirstLine", "\r\n", false},
                                           HeaderCase{"Utf8DegreeSign", "\302\2600.94\r\n", false}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(PlaylistTest, EmptyFileCountsAsOld) {
  Load("");
  EXPECT_EQ(ui.messages, std::vector<std::string>{playlist::OldPlaylistMessage()});
  EXPECT_EQ(list.Count(), 0);
}

struct VersionCase {
  const char* version;
  bool kept;
};

class EntryVersionTest : public PlaylistTest, public ::testing::WithParamInterface<VersionCase> {};

TEST_P(EntryVersionTest, OlderOrNonNumberVersionDropsTheEntryWithMessageB) {
  const auto& c = GetParam();
  const auto entry = Entry("x", c.version);
  Load(kHeader + FileLines(entry));

  if (c.kept) {
    EXPECT_TRUE(ui.messages.empty());
    ASSERT_EQ(list.Count(), 1);
    EXPECT_EQ(playlist.EntryAtRow(0).Version, c.version);
  } else {
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(ui.messages[0],
              "The sequence " + entry.ListText +
                  " has been removed from your playlist because it was created with a version "
                  "of this software before version 0.94.  You will need to re-import this "
                  "sequence into your playlist.");
    EXPECT_EQ(list.Count(), 0);
  }
}

INSTANTIATE_TEST_SUITE_P(Versions, EntryVersionTest,
                         ::testing::Values(VersionCase{"0.94", true}, VersionCase{"0.940", true},
                                           VersionCase{"1", true}, VersionCase{"1.2", true},
                                           VersionCase{"0.9", false}, VersionCase{"0.93", false},
                                           VersionCase{"", false}, VersionCase{"v0.94", false},
                                           VersionCase{"0,94", false}, VersionCase{"1e3", false},
                                           VersionCase{"inf", false}, VersionCase{"-1", false},
                                           VersionCase{"1.2.3", false}, VersionCase{".", false}));

TEST_F(PlaylistTest, OldEntryInTheMiddleIsDroppedAndTheOthersLoadInOrder) {
  const auto a = Entry("a"), b = Entry("b", "0.9"), c = Entry("c");
  Load(kHeader + FileLines(a) + FileLines(b) + FileLines(c));

  EXPECT_EQ(ui.messages, std::vector<std::string>{playlist::OldEntryMessage(b.ListText)});
  EXPECT_EQ(Texts(), (std::vector<std::string>{a.ListText, c.ListText}));
  EXPECT_EQ(Data(), (std::vector<int>{0, 1}));
}

TEST_F(PlaylistTest, MessageBIsShownOncePerDroppedEntry) {
  const auto a = Entry("a", "0.5"), b = Entry("b", "0.6");
  Load(kHeader + FileLines(a) + FileLines(b));
  EXPECT_EQ(ui.messages, (std::vector<std::string>{playlist::OldEntryMessage(a.ListText),
                                                   playlist::OldEntryMessage(b.ListText)}));
}

// --- loading: damaged files ------------------------------------------------

TEST_F(PlaylistTest, MissingFileLeavesTheListEmptyWithoutAMessage) {
  playlist.LoadPlaylist();
  EXPECT_EQ(list.Count(), 0);
  EXPECT_TRUE(ui.messages.empty());
  EXPECT_FALSE(std::filesystem::exists(path));
}

TEST_F(PlaylistTest, FileEndingInsideAnEntryKeepsTheCompleteEntries) {
  const auto a = Entry("a");
  const char* lines[] = {"/b.mp3", "/b.csq", "B", "/b.msq"};
  std::string partial;  // 0 to 4 lines of a second entry
  for (int count = 0; count <= 4; ++count) {
    if (count > 0) partial += std::string(lines[count - 1]) + "\r\n";
    SCOPED_TRACE(count);
    list.Clear();
    playlist.ResetEntries();
    Load(kHeader + FileLines(a) + partial);
    EXPECT_EQ(Texts(), std::vector<std::string>{a.ListText});
  }
  EXPECT_TRUE(ui.messages.empty());
}

TEST_F(PlaylistTest, BareLineFeedsAndAMissingLastLineEndAreAccepted) {
  Load("\2600.94\n/a.mp3\n/a.csq\nA, \"x\"\r\n/a.msq\n0.94");
  ASSERT_EQ(list.Count(), 1);
  const auto& e = playlist.EntryAtRow(0);
  EXPECT_EQ(e.AudioPath, "/a.mp3");
  EXPECT_EQ(e.CachePath, "/a.csq");
  EXPECT_EQ(e.ListText, "A, \"x\"");
  EXPECT_EQ(e.SourcePath, "/a.msq");
  EXPECT_EQ(e.Version, "0.94");
}

TEST_F(PlaylistTest, LoadingNeverRewritesTheFile) {
  const std::string bytes = kHeader + FileLines(Entry("a")) + FileLines(Entry("b", "0.5"));
  Load(bytes);
  EXPECT_EQ(list.Count(), 1);
  EXPECT_TRUE(files.written.empty());
  EXPECT_EQ(fakes::ReadBytes(path), bytes);
}

TEST_F(PlaylistTest, FolderInPlaceOfTheFileIsReportedNotLoaded) {
  std::filesystem::create_directory(path);
  playlist.LoadPlaylist();
  ASSERT_EQ(ui.messages.size(), 1u);
  EXPECT_NE(ui.messages[0].find(path), std::string::npos);
  EXPECT_EQ(list.Count(), 0);
}

// Regression: a hand-edited entry with an empty CachePath used to leave
// element 0 looking unused, so the next entry overwrote it and two list
// items shared one record.
TEST_F(PlaylistTest, EntryWithEmptyCachePathDoesNotShareElementZero) {
  auto a = Entry("a");
  a.CachePath.clear();
  const auto b = Entry("b");
  Load(kHeader + FileLines(a) + FileLines(b));
  EXPECT_EQ(Data(), (std::vector<int>{0, 1}));
  EXPECT_EQ(playlist.EntryAtRow(0).ListText, a.ListText);
  EXPECT_EQ(playlist.EntryAtRow(1).ListText, b.ListText);
}

// --- adding and indices ----------------------------------------------------

TEST_F(PlaylistTest, FirstEntryFillsElementZeroThenEntriesAppend) {
  AddNamed({"a"});
  EXPECT_EQ(playlist.Entries().size(), 1u);
  EXPECT_EQ(Data(), std::vector<int>{0});
  AddNamed({"b"});
  EXPECT_EQ(playlist.Entries().size(), 2u);
  EXPECT_EQ(Data(), (std::vector<int>{0, 1}));
  EXPECT_EQ(playlist.Entries()[1].ListText, Entry("b").ListText);
}

TEST_F(PlaylistTest, RemovingTheMiddleOfThreeThenAddingAppendsRecordThree) {
  AddNamed({"a", "b", "c"});
  list.Select(1);
  playlist.cmdPlaylistRemove_Click();

  EXPECT_EQ(list.SelectedIndex(), -1);
  EXPECT_EQ(fakes::ReadBytes(path), kHeader + FileLines(Entry("a")) + FileLines(Entry("c")));
  EXPECT_EQ(playlist.Entries().size(), 3u);  // the removed record stays

  AddNamed({"d"});
  EXPECT_EQ(playlist.Entries().size(), 4u);
  EXPECT_EQ(Data(), (std::vector<int>{0, 2, 3}));
  EXPECT_EQ(playlist.EntryAtRow(2).ListText, Entry("d").ListText);
}

TEST_F(PlaylistTest, RemoveWithoutSelectionDoesNothing) {
  playlist.cmdPlaylistRemove_Click();  // empty list
  AddNamed({"a", "b"});
  playlist.cmdPlaylistRemove_Click();  // nothing selected
  EXPECT_EQ(list.Count(), 2);
  EXPECT_TRUE(files.written.empty());
}

TEST_F(PlaylistTest, ResetAfterUseStartsOverAtElementZero) {
  AddNamed({"a", "b"});
  list.Clear();
  playlist.ResetEntries();
  AddNamed({"c"});
  EXPECT_EQ(playlist.Entries().size(), 1u);
  EXPECT_EQ(Data(), std::vector<int>{0});
}

// --- moving ----------------------------------------------------------------

TEST_F(PlaylistTest, MoveDownFromIndexTwoOfFour) {
  AddNamed({"a", "b", "c", "d"});
  const auto recordsBefore = playlist.Entries().size();
  list.Select(2);
  playlist.cmdPlaylistMoveDown_Click();

  EXPECT_EQ(list.SelectedIndex(), 3);
  EXPECT_EQ(list.focusCount, 1);
  EXPECT_EQ(Data(), (std::vector<int>{0, 1, 3, 2}));
  EXPECT_EQ(playlist.Entries().size(), recordsBefore);
  EXPECT_EQ(fakes::ReadBytes(path), kHeader + FileLines(Entry("a")) + FileLines(Entry("b")) +
                                        FileLines(Entry("d")) + FileLines(Entry("c")));
}

TEST_F(PlaylistTest, MoveUpTakesTheItemOnePlaceUp) {
  AddNamed({"a", "b", "c"});
  list.Select(2);
  playlist.cmdPlayListMoveUp_Click();
  EXPECT_EQ(Data(), (std::vector<int>{0, 2, 1}));
  EXPECT_EQ(list.SelectedIndex(), 1);
  EXPECT_EQ(playlist.EntryAtRow(1).ListText, Entry("c").ListText);
}

struct StillMoveCase {
  const char* name;
  int selected;
  bool up;
};

class StillMoveTest : public PlaylistTest, public ::testing::WithParamInterface<StillMoveCase> {};

TEST_P(StillMoveTest, NothingMovesButTheFileIsRewritten) {
  const auto& c = GetParam();
  AddNamed({"a", "b", "c"});
  list.Select(c.selected);
  if (c.up) {
    playlist.cmdPlayListMoveUp_Click();
  } else {
    playlist.cmdPlaylistMoveDown_Click();
  }
  EXPECT_EQ(Data(), (std::vector<int>{0, 1, 2}));
  EXPECT_EQ(list.SelectedIndex(), c.selected);
  EXPECT_EQ(list.focusCount, 0);
  EXPECT_EQ(files.written.size(), 1u);
  EXPECT_EQ(fakes::ReadBytes(path),
            kHeader + FileLines(Entry("a")) + FileLines(Entry("b")) + FileLines(Entry("c")));
}

INSTANTIATE_TEST_SUITE_P(Ends, StillMoveTest,
                         ::testing::Values(StillMoveCase{"FirstUp", 0, true},
                                           StillMoveCase{"LastDown", 2, false},
                                           StillMoveCase{"NoSelectionUp", -1, true},
                                           StillMoveCase{"NoSelectionDown", -1, false}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(PlaylistTest, MoveOutsideTheListIsIgnored) {
  AddNamed({"a", "b"});
  playlist.MovePlaylistItem(0, 2);
  playlist.MovePlaylistItem(5, 0);
  playlist.MovePlaylistItem(-1, 0);
  EXPECT_EQ(Data(), (std::vector<int>{0, 1}));
}

// --- the player's view -----------------------------------------------------

TEST_F(PlaylistTest, RowsFollowTheListOrderNotTheRecordOrder) {
  AddNamed({"a", "b", "c"});
  playlist.MovePlaylistItem(0, 2);
  ASSERT_EQ(playlist.RowCount(), 3);
  EXPECT_EQ(playlist.EntryAtRow(0).CachePath, Entry("b").CachePath);
  EXPECT_EQ(playlist.EntryAtRow(2).AudioPath, Entry("a").AudioPath);
  EXPECT_TRUE(playlist.EntryAtRow(3).CachePath.empty());

  playlist.SelectRow(1);
  EXPECT_EQ(list.SelectedIndex(), 1);
}

// --- save failures ---------------------------------------------------------

TEST_F(PlaylistTest, SaveFailureIsShownNamingTheFileAndReasonAndLosesNothing) {
  AddNamed({"a", "b"});
  files.failWith = "disk full";
  list.Select(0);
  playlist.cmdPlaylistMoveDown_Click();

  ASSERT_EQ(ui.messages.size(), 1u);
  EXPECT_NE(ui.messages[0].find(path), std::string::npos);
  EXPECT_NE(ui.messages[0].find("disk full"), std::string::npos);
  EXPECT_EQ(Data(), (std::vector<int>{1, 0}));

  const auto status = playlist.SavePlaylist();
  EXPECT_FALSE(status.ok());
  EXPECT_NE(status.message().find(path), std::string::npos);
  EXPECT_EQ(playlist.Entries().size(), 2u);
}

TEST(PlaylistRealFileStore, SaveIntoAMissingFolderIsReported) {
  fakes::TempDir dir;
  fakes::FakeListBox list;
  fakes::FakeUserInterface ui;
  platform::PosixFileStore files;
  const std::string path = dir.File("no-such-folder/playlist.txt");
  playlist::Playlist playlist(list, ui, files, path);
  playlist.AddPlaylistEntry(Entry("a"));

  EXPECT_FALSE(playlist.SavePlaylist().ok());
  ASSERT_EQ(ui.messages.size(), 1u);
  EXPECT_NE(ui.messages[0].find(path), std::string::npos);
  EXPECT_EQ(list.Count(), 1);
}

}  // namespace
