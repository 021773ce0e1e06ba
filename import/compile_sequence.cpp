#include "import/compile_sequence.h"

#include <filesystem>
#include <system_error>
#include <utility>
#include <vector>

#include "import/compiler_passes.h"
#include "import/sequence_reader.h"
#include "platform/utf8_path.h"
#include "sequence_format/event_table.h"
#include "text/text.h"

namespace importer {
using namespace sequence_format;
namespace {

// A directory at the audio path is no audio file; anything else that exists
// is left for the player to judge.
bool AudioFileExists(const std::string& path) {
  if (path.empty()) return false;
  std::error_code ec;
  const auto status = std::filesystem::status(platform::FilePath(path), ec);
  return std::filesystem::exists(status) && !std::filesystem::is_directory(status);
}

// One row per interval, channel by channel, each channel announced in the
// status line; the intervals stay null.
EventTable MakeTable(const SequenceDocument& document, const CompileServices& services) {
  constexpr std::uint8_t kIntervalsNull = (1u << static_cast<int>(Column::ShortInterval)) |
                                          (1u << static_cast<int>(Column::LongInterval));
  std::vector<EventTable::Record> records;
  records.reserve(document.rows.size());
  for (const SequenceChannel& channel : document.channels) {
    services.window.SetStatus("Parsing XML Device:" + std::to_string(channel.device) +
                              " Channel:" + std::to_string(channel.channelNumber));
    services.ui.DoEvents();
    for (std::size_t i = 0; i < channel.rowCount; ++i) {
      const SequenceRow& row = document.rows[channel.firstRow + i];
      EventTable::Record& record = records.emplace_back();
      record.values = {row.sampleNumber,   row.device,       row.channel, row.command,
                       row.startIntensity, row.endIntensity, 0,           0};
      record.nullMask = kIntervalsNull;
    }
  }
  return EventTable::FromRecords(std::move(records));
}

}  // namespace

std::string MissingAudioMessage(const std::string& displayTitle, const std::string& wantedPath) {
  std::string message =
      "The audio file for your sequence could not be located.  Please select the location of "
      "the audio file \"" +
      displayTitle + "\".";
  if (!wantedPath.empty()) message += "\r\n\r\nThe sequence asked for " + wantedPath + ".";
  return message;
}

std::string WantedFileName(const std::string& wantedPath) {
  // Sequences made on Windows name their song with backslashes.
  const auto slash = wantedPath.find_last_of("/\\");
  return slash == std::string::npos ? wantedPath : wantedPath.substr(slash + 1);
}

std::string AudioFileFilterFor(const std::string& wantedName) {
  const std::string name = text::AsciiLower(wantedName);
  const bool mp3 = name.size() >= 4 && name.compare(name.size() - 4, 4, ".mp3") == 0;
  return std::string(mp3 ? "MP3 Files (*.mp3) | *.mp3| WAV Files (*.wav) | *.wav"
                         : kAudioFileFilter) +
         "| All audio (*.wav;*.mp3) | *.wav;*.mp3";
}

std::string NoAudioChosenMessage() {
  return "You did not specify an audio file location; this sequence has not been added to your "
         "playlist.";
}

void CompileSequence(const std::string& documentFile, const std::string& cacheFile,
                     std::string& audioFile, std::string& displayTitle,
                     const CompileServices& services) {
  audioFile.clear();
  displayTitle.clear();

  // The whole document is read and checked before the user is asked for
  // anything: locating an audio file only to hear that the sequence is
  // damaged would waste the operator's time.
  auto read = ReadSequenceDocument(documentFile, services.archive);
  if (!read) {
    services.ui.ShowMessage(read.message());
    return;
  }
  SequenceDocument document = std::move(read).value();
  displayTitle = document.DisplayTitle();
  std::string audio = document.filePath;

  if (!AudioFileExists(audio)) {
    services.ui.ShowMessage(MissingAudioMessage(displayTitle, audio));
    // The dialog starts where the sequence looked, when that folder is here,
    // with the file it looked for already named.
    const std::string wantedName = WantedFileName(audio);
    std::string folder = services.lastImportFolder;
    std::error_code error;
    if (const auto wantedFolder = platform::FilePath(audio).parent_path();
        !wantedName.empty() && !wantedFolder.empty() &&
        std::filesystem::is_directory(wantedFolder, error)) {
      folder = wantedFolder.string();
    }
    const std::string title = wantedName.empty()
                                  ? std::string(kLocateAudioTitle)
                                  : std::string(kLocateAudioTitle) + " - " + wantedName;
    auto chosen =
        services.ui.ShowOpenDialog(AudioFileFilterFor(wantedName), title, folder, wantedName);
    if (!chosen || chosen->empty()) {
      services.ui.ShowMessage(NoAudioChosenMessage());
      return;
    }
    audio = *chosen;
  }

  EventTable table = MakeTable(document, services);
  // The rows now live in the table; the reader's copy is not needed during
  // the passes, which are the import's other memory peak.
  document = SequenceDocument{};

  const platform::Status saved = FinishCompile(table, services.fadeTimings, cacheFile,
                                               services.window, services.ui, services.files);
  if (!saved) {
    services.ui.ShowMessage("The compiled sequence \"" + displayTitle + "\" could not be saved: " +
                            saved.message() + ".  It has not been added to your playlist.");
    return;
  }
  audioFile = std::move(audio);
}

}  // namespace importer
