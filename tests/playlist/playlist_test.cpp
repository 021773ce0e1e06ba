#include "playlist/playlist.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>
#include <tuple>
#include <vector>

#include "tests/fakes/fake_file_store.h"
#include "tests/fakes/fake_list_box.h"
#include "tests/fakes/fake_user_interface.h"
#include "tests/fakes/special_files.h"
#include "tests/fakes/temp_dir.h"

namespace {

using playlist::PlaylistEntry;
using Texts = std::vector<std::string>;

// The degree sign, byte 0xB0, as an octal escape that stops after three
// digits: "\2600.94" is B0 30 2E 39 34.
const std::string kHeader = "\2600.94\r\n";

PlaylistEntry Entry(const std::string& name, const std::string& version = "0.94") {
  return {"/shows/audio/" + name + ".mp3", "/app/Cache/" + name + ".csq",
          name + " - Artist         (/shows/" + name + ".msq)", version, "/shows/" + name + ".msq"};
}
auto Fields(const PlaylistEntry& e) {
  return std::tie(e.AudioPath, e.CachePath, e.ListText, e.Version, e.SourcePath);
}

// The five lines of one entry as the file holds them: Version last.
std::string FileLines(const PlaylistEntry& e) {
  return e.AudioPath + "\r\n" + e.CachePath + "\r\n" + e.ListText + "\r\n" + e.SourcePath + "\r\n" +
         e.Version + "\r\n";
}
std::string FileOf(std::initializer_list<const char*> names) {
  std::string bytes = kHeader;
  for (const char* name : names) bytes += FileLines(Entry(name));
  return bytes;
}

// A playlist over fakes, writing its file into a temporary folder.
struct Rig {
  fakes::TempDir dir;
  fakes::FakeListBox list;
  fakes::FakeUserInterface ui;
  fakes::FakeFileStore files;
  std::string path = dir.File("playlist.txt");
  playlist::Playlist playlist{list, ui, files, path};

  Texts ListTexts() const {
    Texts texts;
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
  // Loads `bytes` and checks that loading left the file alone.
  void Load(const std::string& bytes) {
    fakes::WriteBytes(path, bytes);
    playlist.LoadPlaylist();
    EXPECT_TRUE(files.written.empty());
    EXPECT_EQ(fakes::ReadBytes(path), bytes);
  }
};
class PlaylistTest : public ::testing::Test, public Rig {};

// --- the file ----------------------------------------------------------------

TEST_F(PlaylistTest, OldOrForeignHeaderGivesMessageAAndAnEmptyList) {
  // The first line, and whether the file loads.
  const std::pair<std::string, bool> cases[] = {
      {"\2600.94\r\n", true},  {"\260 1.2 \r\n", true},    {"0.94\r\n", false},
      {"\2600.93\r\n", false}, {"\2600.94b\r\n", false},   {"\260\r\n", false},
      {"\r\n", false},         {"\302\2600.94\r\n", false}};  // a UTF-8 degree sign
  for (const auto& [header, loads] : cases) {
    SCOPED_TRACE(header);
    Rig rig;
    rig.Load(header + FileLines(Entry("a")));
    EXPECT_EQ(rig.list.Count(), loads ? 1 : 0);
    EXPECT_EQ(rig.ui.messages, loads ? Texts{} : Texts{playlist::OldPlaylistMessage()});
  }
  Load("");  // an empty file counts as old
  EXPECT_EQ(ui.messages, Texts{playlist::OldPlaylistMessage()});
  EXPECT_EQ(ui.messages[0],
            "Your playlist was created before version 0.94.  Please re-add your .msq files to "
            "your playlist. (this is not an error message)");
}

TEST_F(PlaylistTest, OlderOrNonNumberVersionDropsTheEntryWithMessageB) {
  const std::pair<const char*, bool> cases[] = {
      {"0.94", true},   {"0.940", true}, {"1", true},    {"0.93", false}, {"", false},
      {"v0.94", false}, {"0,94", false}, {"1e3", false}, {"inf", false},  {"-1", false}};
  for (const auto& [version, kept] : cases) {
    SCOPED_TRACE(version);
    Rig rig;
    rig.Load(kHeader + FileLines(Entry("x", version)));
    EXPECT_EQ(rig.list.Count(), kept ? 1 : 0);
    EXPECT_EQ(rig.ui.messages,
              kept ? Texts{} : Texts{playlist::OldEntryMessage(Entry("x").ListText)});
  }
  EXPECT_EQ(playlist::OldEntryMessage("T"),
            "The sequence T has been removed from your playlist because it was created with a "
            "version of this software before version 0.94.  You will need to re-import this "
            "sequence into your playlist.");
  EXPECT_EQ(playlist::OldEntryMessage(std::string("Carol\0 of\nBells", 15)).substr(0, 32),
            "The sequence Carol  of Bells has");

  // One message per dropped entry; the others load in order.
  const auto a = Entry("a"), b = Entry("b", "0.9"), c = Entry("c"), d = Entry("d", "0.5");
  Load(kHeader + FileLines(a) + FileLines(b) + FileLines(c) + FileLines(d));
  EXPECT_EQ(ui.messages,
            (Texts{playlist::OldEntryMessage(b.ListText), playlist::OldEntryMessage(d.ListText)}));
  EXPECT_EQ(ListTexts(), (Texts{a.ListText, c.ListText}));
  EXPECT_EQ(Data(), (std::vector<int>{0, 1}));
}

// A pipe would hold the loader forever waiting for a writer, a device may
// never end: neither is read.
TEST_F(PlaylistTest, MissingFileGivesAnEmptyListAndAFolderPipeOrDeviceIsReported) {
  playlist.LoadPlaylist();
  EXPECT_TRUE(ui.messages.empty());
  EXPECT_FALSE(std::filesystem::exists(path));

  for (const fakes::SpecialFile& special : fakes::SpecialFiles()) {
    SCOPED_TRACE(special.name);
    ui.messages.clear();
    std::filesystem::remove(path);
    special.make(path);
    playlist.LoadPlaylist();
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_NE(ui.messages[0].find(path + " could not be read: " + special.reason),
              std::string::npos)
        << ui.messages[0];
    EXPECT_EQ(list.Count(), 0);
  }
}

TEST_F(PlaylistTest, FileEndingInsideAnEntryKeepsTheCompleteEntries) {
  const char* lines[] = {"/b.mp3", "/b.csq", "B", "/b.msq"};
  std::string partial;  // 0 to 4 lines of a second entry
  for (int count = 0; count <= 4; ++count) {
    if (count > 0) partial += std::string(lines[count - 1]) + "\r\n";
    SCOPED_TRACE(count);
    Rig rig;
    rig.Load(FileOf({"a"}) + partial);
    EXPECT_EQ(rig.ListTexts(), Texts{Entry("a").ListText});
    EXPECT_TRUE(rig.ui.messages.empty());
  }
}

// A title holding a line break went into the file as an extra line: at the
// next start that entry and the good one after it were dropped, and the
// misaligned file was saved from then on.
TEST_F(PlaylistTest, LineBreaksInAValueNeverShiftTheEntriesAfterIt) {
  PlaylistEntry broken = Entry("a");
  broken.ListText = "Carol\nof the\r\x1B Bells - Choir         (/shows/a.msq)";
  playlist.AddPlaylistEntry(broken);
  AddNamed({"b"});
  ASSERT_TRUE(playlist.SavePlaylist().ok());
  const std::string saved = fakes::ReadBytes(path);
  EXPECT_EQ(std::count(saved.begin(), saved.end(), '\n'), 11) << saved;
  EXPECT_NE(saved.find("Carol of the   Bells - Choir"), std::string::npos) << saved;

  // A file an older version wrote with the break in it: the entry ends where
  // its SourcePath follows its ListText, and the next entry keeps its lines.
  const PlaylistEntry b = Entry("b"), c = Entry("c");
  for (const std::string& title :
       {std::string("Carol\r\nBells - Choir         (/shows/a.msq)"),
        std::string("Carol\r\nof the\r\nBells - Choir         (/shows/a.msq)")}) {
    SCOPED_TRACE(title);
    Rig rig;
    rig.Load(kHeader + "/shows/audio/a.mp3\r\n/app/Cache/a.csq\r\n" + title +
             "\r\n/shows/a.msq\r\n0.94\r\n" + FileLines(b) + FileLines(c));
    EXPECT_TRUE(rig.ui.messages.empty());
    ASSERT_EQ(rig.list.Count(), 3);
    EXPECT_EQ(rig.playlist.EntryAtRow(0).SourcePath, "/shows/a.msq");
    EXPECT_EQ(rig.playlist.EntryAtRow(0).ListText.find('\n'), std::string::npos);
    EXPECT_EQ(Fields(rig.playlist.EntryAtRow(1)), Fields(b));
    EXPECT_EQ(Fields(rig.playlist.EntryAtRow(2)), Fields(c));
  }
  EXPECT_TRUE(playlist::HoldsControlCharacters("a\tb"));
  EXPECT_FALSE(playlist::HoldsControlCharacters("Noël, \"x\" (C:\\a.msq)"));
}

TEST_F(PlaylistTest, BareLineFeedsAndAMissingLastLineEndAreAccepted) {
  Load("\2600.94\n/a.mp3\n/a.csq\nA, \"x\"\r\n/a.msq\n0.94");
  ASSERT_EQ(list.Count(), 1);
  EXPECT_EQ(Fields(playlist.EntryAtRow(0)),
            Fields(PlaylistEntry{"/a.mp3", "/a.csq", "A, \"x\"", "0.94", "/a.msq"}));
}

// --- editing -------------------------------------------------------------------

// Also when the first entry has an empty CachePath (a hand-edited file): that
// used to leave element 0 looking unused, so the next entry overwrote it and
// two list items shared one record.
TEST_F(PlaylistTest, FirstEntryFillsElementZeroThenEntriesAppendUntilAReset) {
  auto a = Entry("a");
  a.CachePath.clear();
  Load(kHeader + FileLines(a) + FileLines(Entry("b")));
  EXPECT_EQ(playlist.Entries().size(), 2u);
  EXPECT_EQ(Data(), (std::vector<int>{0, 1}));
  EXPECT_EQ(playlist.EntryAtRow(0).ListText, a.ListText);

  list.Clear();
  playlist.ResetEntries();
  AddNamed({"c"});
  EXPECT_EQ(playlist.Entries().size(), 1u);
  EXPECT_EQ(Data(), std::vector<int>{0});
}

TEST_F(PlaylistTest, RemovingTheMiddleOfThreeThenAddingAppendsRecordThree) {
  playlist.cmdPlaylistRemove_Click();  // empty list: nothing happens
  AddNamed({"a", "b", "c"});
  playlist.cmdPlaylistRemove_Click();  // nothing selected: nothing happens
  EXPECT_TRUE(files.written.empty());

  list.Select(1);
  playlist.cmdPlaylistRemove_Click();
  EXPECT_EQ(fakes::ReadBytes(path), FileOf({"a", "c"}));
  EXPECT_EQ(playlist.Entries().size(), 3u);  // the removed record stays

  AddNamed({"d"});
  EXPECT_EQ(playlist.Entries().size(), 4u);
  EXPECT_EQ(Data(), (std::vector<int>{0, 2, 3}));
  EXPECT_EQ(playlist.EntryAtRow(2).ListText, Entry("d").ListText);
}

// Every click rewrites the file in the list's order, also when nothing can
// move.
TEST_F(PlaylistTest, MovesUpAndDownButNotPastEitherEnd) {
  struct Case {
    int selected;
    bool up;
    std::vector<int> data;
    int selectedAfter;
  };
  const Case cases[] = {{2, false, {0, 1, 3, 2}, 3},  {2, true, {0, 2, 1, 3}, 1},
                        {0, true, {0, 1, 2, 3}, 0},   {3, false, {0, 1, 2, 3}, 3},
                        {-1, true, {0, 1, 2, 3}, -1}, {-1, false, {0, 1, 2, 3}, -1}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.selected << (c.up ? " up" : " down"));
    Rig rig;
    rig.AddNamed({"a", "b", "c", "d"});
    rig.list.Select(c.selected);
    c.up ? rig.playlist.cmdPlayListMoveUp_Click() : rig.playlist.cmdPlaylistMoveDown_Click();
    EXPECT_EQ(rig.Data(), c.data);
    EXPECT_EQ(rig.list.SelectedIndex(), c.selectedAfter);
    EXPECT_EQ(rig.list.focusCount, c.selectedAfter == c.selected ? 0 : 1);
    const char* names[] = {"a", "b", "c", "d"};
    std::string expected = kHeader;
    for (int record : c.data) expected += FileLines(Entry(names[record]));
    EXPECT_EQ(rig.files.written.size(), 1u);
    EXPECT_EQ(fakes::ReadBytes(rig.path), expected);
  }
  // Outside the list nothing moves, and there is no entry.
  AddNamed({"a", "b"});
  for (const auto& [from, to] : {std::pair(0, 2), {5, 0}, {-1, 0}}) {
    playlist.MovePlaylistItem(from, to);
  }
  EXPECT_EQ(Data(), (std::vector<int>{0, 1}));
  EXPECT_TRUE(playlist.EntryAtRow(2).CachePath.empty());
}

// Regression: a move or removal that could not be saved stayed in the list,
// so the list showed an order the next start would not load.
TEST_F(PlaylistTest, SaveFailureIsShownNamingTheFileAndReasonAndTheListGoesBack) {
  AddNamed({"a", "b", "c"});
  files.failWith = "disk full";
  const std::vector<std::function<void()>> clicks = {[&] { playlist.cmdPlaylistMoveDown_Click(); },
                                                     [&] { playlist.cmdPlayListMoveUp_Click(); },
                                                     [&] { playlist.cmdPlaylistRemove_Click(); }};
  for (std::size_t i = 0; i < clicks.size(); ++i) {
    SCOPED_TRACE(i);
    ui.messages.clear();
    list.Select(1);
    clicks[i]();
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_NE(ui.messages[0].find(path), std::string::npos);
    EXPECT_NE(ui.messages[0].find("disk full"), std::string::npos);
    EXPECT_EQ(Data(), (std::vector<int>{0, 1, 2}));
    EXPECT_EQ(ListTexts(), (Texts{Entry("a").ListText, Entry("b").ListText, Entry("c").ListText}));
    EXPECT_EQ(list.SelectedIndex(), 1);
  }
  EXPECT_FALSE(playlist.SavePlaylist().ok());
}

}  // namespace
