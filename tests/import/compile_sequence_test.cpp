#include "import/compile_sequence.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "sequence_format/sequence_cache.h"
#include "tests/fakes/fake_file_store.h"
#include "tests/fakes/fake_user_interface.h"
#include "tests/fakes/temp_dir.h"
#include "tests/import/import_support.h"

namespace importer {
using namespace sequence_format;
namespace {

class CompileSequenceTest : public ::testing::Test {
 protected:
  CompileSequenceTest() {
    fakes::WriteBytes(audio_, "RIFF");
    sequence_.filePath = audio_;
    // Channel 1 has no intervals, and controller 0 is not read.
    sequence_.controllers = {{"3", {{"12", {{"88200", "1", "0", "255"}}}, {"1", {}}}},
                             {"0", {{"2", {{"0", "1", "0", "255"}}}}}};
  }

  void Compile() { Compile(window_, files_); }
  void Compile(CompileWindow& window, fakes::FakeFileStore& files) {
    fakes::WriteBytes(document_, fakes::ToXml(sequence_));
    CompileSequence(document_, cache_, audioFile_, displayTitle_,
                    CompileServices{window, ui_, files, fadeTimings_, "/shows/"});
  }
  // The earlier import's file stays as it was.
  void ExpectOldCacheKept() {
    EXPECT_EQ(audioFile_, "");
    EXPECT_EQ(fakes::ReadBytes(cache_), "earlier import");
    EXPECT_TRUE(files_.written.empty());
    EXPECT_TRUE(window_.statuses.empty());
  }

  fakes::TempDir dir_;
  fakes::FakeUserInterface ui_;
  import_test::RecordingWindow window_{ui_};
  fakes::FakeFileStore files_;
  const FadeTimingTable fadeTimings_ = FillFadeTimingTable();
  fakes::Sequence sequence_;
  std::string audio_ = dir_.File("song.wav"), document_ = dir_.File("Carol"),
              cache_ = dir_.File("Carol.csq");
  std::string audioFile_ = "stale", displayTitle_ = "stale";
};

TEST_F(CompileSequenceTest, AudioFilePresentWritesTheCacheShowingEveryChannelRead) {
  Compile();

  EXPECT_EQ(std::tie(audioFile_, displayTitle_), std::tuple(audio_, "Carol - Choir"));
  EXPECT_TRUE(ui_.messages.empty());
  EXPECT_TRUE(ui_.dialogs.empty());
  ASSERT_GE(window_.statuses.size(), 3u);
  EXPECT_EQ(window_.statuses[0], "Parsing XML Device:3 Channel:12");
  EXPECT_EQ(window_.statuses[1], "Parsing XML Device:3 Channel:1");
  EXPECT_EQ(window_.statuses[2], "Generating event durations");
  EXPECT_TRUE(window_.YieldedAfterEveryText());
  auto cache = LoadSequenceCache(cache_);
  ASSERT_TRUE(cache.ok()) << cache.message();
  EXPECT_EQ(import_test::ReadAll(cache.value()),
            (std::vector<import_test::Values>{{88200, 3, 8, 24, 0, 255}}));
}

// The title, in windows-1252, reaches the message as UTF-8. The dialog opens
// in the folder the sequence named when it is here, else (the machine the
// sequence was made on) in the last import folder; either way it names the
// wanted file, and it lists files of the wanted type first.
TEST_F(CompileSequenceTest, MissingAudioAsksForItNamingTheWantedFileAndUsesTheChosenOne) {
  sequence_.encoding = "windows-1252";
  sequence_.title = "Caf\xE9 \x96 No\xEBl";
  const std::string wavFirst =
      "WAV Files (*.wav) | *.wav| MP3 Files (*.mp3) | *.mp3| All audio (*.wav;*.mp3) | "
      "*.wav;*.mp3";
  const std::string mp3First =
      "MP3 Files (*.mp3) | *.mp3| WAV Files (*.wav) | *.wav| All audio (*.wav;*.mp3) | "
      "*.wav;*.mp3";
  // The file the sequence wants, the folder the dialog opens in, the name it
  // offers, the filter.
  const std::tuple<std::string, std::string, std::string, std::string> cases[] = {
      {dir_.File("gone.wav"), dir_.path().string(), "gone.wav", wavFirst},
      {"C:\\Music\\Carol.wav", "/shows/", "Carol.wav", wavFirst},
      {"/no/such/folder/Carol.mp3", "/shows/", "Carol.mp3", mp3First},
      {"C:\\Music\\CAROL.MP3", "/shows/", "CAROL.MP3", mp3First},
      {"", "/shows/", "", wavFirst},
  };
  for (const auto& [wanted, folder, fileName, filter] : cases) {
    SCOPED_TRACE(wanted);
    sequence_.filePath = wanted;
    ui_.dialogs.clear();
    ui_.messages.clear();
    std::filesystem::remove(cache_);
    ui_.dialogAnswers.push_back(audio_);
    Compile();
    EXPECT_EQ(displayTitle_, "Caf\xC3\xA9 \xE2\x80\x93 No\xC3\xABl - Choir");
    EXPECT_EQ(ui_.messages,
              std::vector<std::string>{
                  "The audio file for your sequence could not be located.  Please select the "
                  "location of the audio file \"" +
                  displayTitle_ + "\"." +
                  (wanted.empty() ? "" : "\r\n\r\nThe sequence asked for " + wanted + ".")});
    ASSERT_EQ(ui_.dialogs.size(), 1u);
    const auto& d = ui_.dialogs[0];
    EXPECT_EQ(std::tie(d.filter, d.title, d.initialFolder, d.fileName),
              std::tuple(filter, "Locate Audio File" + (fileName.empty() ? "" : " - " + fileName),
                         folder, fileName));
    EXPECT_EQ(audioFile_, audio_);
    EXPECT_TRUE(std::filesystem::exists(cache_));
  }
}

// A folder is no audio file; when the dialog is cancelled nothing is compiled.
TEST_F(CompileSequenceTest, CancelledAudioDialogRefusesAndKeepsTheOldCacheFile) {
  for (const std::string& audio : {std::string(), dir_.path().string()}) {
    SCOPED_TRACE(audio);
    sequence_.filePath = audio;
    fakes::WriteBytes(cache_, "earlier import");
    ui_.messages.clear();

    Compile();

    EXPECT_EQ(displayTitle_, "Carol - Choir");
    ASSERT_EQ(ui_.messages.size(), 2u);
    EXPECT_EQ(ui_.messages[1],
              "You did not specify an audio file location; this sequence has not been added to "
              "your playlist.");
    ExpectOldCacheKept();
  }
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
  ExpectOldCacheKept();
}

// The serial line's forecast is worked out while the file is written, and
// told only once the file is saved: never for a file that could not be, which
// is refused with the reason.
TEST_F(CompileSequenceTest, TheLineForecastIsToldOnceTheFileIsSavedAndNeverWhenItCannotBe) {
  struct ForecastWindow : import_test::RecordingWindow {
    using RecordingWindow::RecordingWindow;
    std::function<void()> SequenceCompiled(const EventTable& table) override {
      rowsGiven = table.RowCount();
      return [this] { toldWithFileWritten = files != nullptr && !files->written.empty(); };
    }
    const fakes::FakeFileStore* files = nullptr;
    std::size_t rowsGiven = 0;
    std::optional<bool> toldWithFileWritten;
  };
  for (const bool writable : {false, true}) {
    SCOPED_TRACE(writable ? "writable" : "the disk is full");
    fakes::FakeFileStore files;
    if (!writable) files.failWith = "Cannot write: No space left on device";
    ForecastWindow window(ui_);
    window.files = &files;
    Compile(window, files);

    EXPECT_GT(window.rowsGiven, 0u);
    if (writable) {
      EXPECT_EQ(window.toldWithFileWritten, std::optional<bool>(true));
    } else {
      EXPECT_FALSE(window.toldWithFileWritten.has_value());
      EXPECT_EQ(audioFile_, "");
      ASSERT_EQ(ui_.messages.size(), 1u);
      EXPECT_NE(ui_.messages[0].find("No space left on device"), std::string::npos);
      EXPECT_NE(ui_.messages[0].find("Carol - Choir"), std::string::npos);
      EXPECT_FALSE(std::filesystem::exists(cache_));
    }
  }
}

}  // namespace
}  // namespace importer
