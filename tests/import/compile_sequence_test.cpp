#include "import/compile_sequence.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "import/sequence_cache.h"
#include "tests/fakes/fake_file_store.h"
#include "tests/fakes/fake_user_interface.h"
#include "tests/fakes/temp_dir.h"
#include "tests/import/sequence_xml.h"

namespace importer {
namespace {

using sequence_xml::Sequence;

// Puts messages, dialogs and yields into the window's log, so the order of
// everything the user sees can be checked.
class LoggingUserInterface : public fakes::FakeUserInterface {
 public:
  explicit LoggingUserInterface(std::vector<std::string>& log) : log_(log) {}
  void ShowMessage(const std::string& text) override {
    log_.push_back("message:" + text);
    FakeUserInterface::ShowMessage(text);
  }
  std::optional<std::string> ShowOpenDialog(const std::string& filter, const std::string& title,
                                            const std::string& folder,
                                            const std::string& name) override {
    log_.push_back("dialog:" + title);
    return FakeUserInterface::ShowOpenDialog(filter, title, folder, name);
  }
  void DoEvents() override {
    log_.push_back("yield");
    FakeUserInterface::DoEvents();
  }

 private:
  std::vector<std::string>& log_;
};

class CompileSequenceTest : public ::testing::Test {
 protected:
  CompileSequenceTest() : ui_(window_.log) {
    audio_ = dir_.File("song.wav");
    fakes::WriteBytes(audio_, "RIFF");
    document_ = dir_.File("Carol");
    cache_ = dir_.File("Carol.csq");
    sequence_.filePath = audio_;
    sequence_.controllers = {{"3", {{"12", {{"88200", "1", "0", "255"}}}, {"1", {}}}},
                             {"0", {{"2", {{"0", "1", "0", "255"}}}}}};
  }

  void Compile() {
    fakes::WriteBytes(document_, sequence_xml::ToXml(sequence_));
    CompileSequence(document_, cache_, audioFile_, displayTitle_,
                    CompileServices{window_, ui_, files_, "/shows/"});
  }

  bool CacheExists() const { return std::filesystem::exists(cache_); }

  std::vector<std::string> StatusesAndYields() const {
    std::vector<std::string> out;
    for (const auto& entry : window_.log) {
      if (entry.rfind("status:Parsing", 0) == 0 || entry == "yield") out.push_back(entry);
    }
    return out;
  }

  fakes::TempDir dir_;
  sequence_xml::RecordingWindow window_;
  LoggingUserInterface ui_;
  fakes::FakeFileStore files_;
  Sequence sequence_;
  std::string audio_, document_, cache_;
  std::string audioFile_ = "stale", displayTitle_ = "stale";
};

TEST_F(CompileSequenceTest, AudioFilePresentWritesTheCacheWithoutAskingAnything) {
  Compile();

  EXPECT_EQ(audioFile_, audio_);
  EXPECT_EQ(displayTitle_, "Carol - Choir");
  EXPECT_TRUE(ui_.messages.empty());
  EXPECT_TRUE(ui_.dialogs.empty());
  auto cache = LoadSequenceCache(cache_);
  ASSERT_TRUE(cache.ok()) << cache.message();
  ASSERT_EQ(cache.value().RowCount(), 1u);
  EXPECT_EQ(cache.value().Get(Column::SampleNumber), 88200);
  EXPECT_EQ(cache.value().Get(Column::Device), 3);
  EXPECT_EQ(cache.value().Get(Column::Channel), 8);
  EXPECT_EQ(cache.value().Get(Column::Command), 24);
}

TEST_F(CompileSequenceTest, ShowsEachChannelOfReadControllersFollowedByAYield) {
  Compile();

  const std::vector<std::string> expected = {"status:Parsing XML Device:3 Channel:12", "yield",
                                             "status:Parsing XML Device:3 Channel:1", "yield"};
  const auto seen = StatusesAndYields();
  ASSERT_GE(seen.size(), expected.size());
  EXPECT_EQ(std::vector<std::string>(seen.begin(), seen.begin() + 4), expected);
}

TEST_F(CompileSequenceTest, MissingAudioAsksForItAndUsesTheChosenFile) {
  sequence_.filePath = dir_.File("gone.wav");
  ui_.dialogAnswers.push_back(audio_);

  Compile();

  ASSERT_EQ(ui_.messages.size(), 1u);
  EXPECT_EQ(ui_.messages[0],
            "The audio file for your sequence could not be located.  Please select the location "
            "of the audio file \"Carol - Choir\".");
  ASSERT_EQ(ui_.dialogs.size(), 1u);
  EXPECT_EQ(ui_.dialogs[0].filter, "WAV Files (*.wav) | *.wav| MP3 Files (*.mp3) | *.mp3");
  EXPECT_EQ(ui_.dialogs[0].title, "Locate Audio File");
  EXPECT_EQ(ui_.dialogs[0].initialFolder, "/shows/");
  EXPECT_EQ(ui_.dialogs[0].fileName, "");
  EXPECT_EQ(audioFile_, audio_);
  EXPECT_TRUE(CacheExists());
  // The document is read before the user is asked, but the channels are
  // shown after the answer.
  const auto dialog = std::find(window_.log.begin(), window_.log.end(), "dialog:Locate Audio File");
  const auto firstStatus =
      std::find(window_.log.begin(), window_.log.end(), "status:Parsing XML Device:3 Channel:12");
  EXPECT_LT(dialog, firstStatus);
}

TEST_F(CompileSequenceTest, CancelledAudioDialogRefusesAndKeepsTheOldCacheFile) {
  sequence_.filePath = "";
  fakes::WriteBytes(cache_, "earlier import");

  Compile();

  EXPECT_EQ(audioFile_, "");
  EXPECT_EQ(displayTitle_, "Carol - Choir");
  ASSERT_EQ(ui_.messages.size(), 2u);
  EXPECT_EQ(ui_.messages[1],
            "You did not specify an audio file location; this sequence has not been added to "
            "your playlist.");
  EXPECT_EQ(fakes::ReadBytes(cache_), "earlier import");
  EXPECT_TRUE(files_.written.empty());
  EXPECT_TRUE(StatusesAndYields().empty());
}

TEST_F(CompileSequenceTest, AFolderIsNoAudioFile) {
  sequence_.filePath = dir_.path().string();

  Compile();

  EXPECT_EQ(ui_.dialogs.size(), 1u);
  EXPECT_EQ(audioFile_, "");
}

TEST_F(CompileSequenceTest, Windows1252TitleReachesTheMessageAsUtf8) {
  sequence_.encoding = "windows-1252";
  sequence_.title = "Caf\xE9 \x96 No\xEBl";
  sequence_.filePath = dir_.File("gone.wav");

  Compile();

  ASSERT_FALSE(ui_.messages.empty());
  EXPECT_NE(ui_.messages[0].find("\"Caf\xC3\xA9 \xE2\x80\x93 No\xC3\xABl - Choir\""),
            std::string::npos);
  EXPECT_EQ(displayTitle_, "Caf\xC3\xA9 \xE2\x80\x93 No\xC3\xABl - Choir");
}

TEST_F(CompileSequenceTest, BadDocumentIsRefusedBeforeAnyDialogWithOneMessage) {
  sequence_.filePath = dir_.File("gone.wav");
  sequence_.controllers[0].channels[0].intervals[0].intensityIn = "bright";
  fakes::WriteBytes(cache_, "earlier import");

  Compile();

  ASSERT_EQ(ui_.messages.size(), 1u);
  EXPECT_NE(ui_.messages[0].find("the IntensityIn element on line 18 holds \"bright\""),
            std::string::npos)
      << ui_.messages[0];
  EXPECT_TRUE(ui_.dialogs.empty());
  EXPECT_EQ(audioFile_, "");
  EXPECT_EQ(fakes::ReadBytes(cache_), "earlier import");
  EXPECT_TRUE(StatusesAndYields().empty());
}

TEST_F(CompileSequenceTest, CacheThatCannotBeWrittenIsRefusedWithTheReason) {
  files_.failWith = "Cannot write /cache/Carol.csq: No space left on device";

  Compile();

  EXPECT_EQ(audioFile_, "");
  ASSERT_EQ(ui_.messages.size(), 1u);
  EXPECT_NE(ui_.messages[0].find("No space left on device"), std::string::npos);
  EXPECT_NE(ui_.messages[0].find("Carol - Choir"), std::string::npos);
  EXPECT_FALSE(CacheExists());
}

}  // namespace
}  // namespace importer
