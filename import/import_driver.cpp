#include "import/import_driver.h"

#include <exception>
#include <filesystem>
#include <system_error>
#include <utility>

#include "import/compile_sequence.h"
#include "import/exec_cmd.h"
#include "platform/paths.h"

namespace importer {
namespace {

constexpr const char* kCacheExtension = ".csq";
constexpr const char* kListTextGap = "         (";
constexpr const char* kParagraph = "\r\n\r\n";

bool IsRegularFile(const std::string& path) {
  std::error_code ec;
  return std::filesystem::is_regular_file(path, ec);
}

// Only a plain file is ever removed: if the archive held a folder under the
// document's name, it stays, like every other file the archive held.
void RemoveExtractedDocument(const std::string& path) {
  if (!IsRegularFile(path)) return;
  std::error_code ec;
  std::filesystem::remove(path, ec);
}

// Puts the window back to its stopped state however the import ended.
class StoppedStateOnExit {
 public:
  StoppedStateOnExit(ImportWindow& window, platform::UserInterface& ui)
      : window_(window), ui_(ui) {}
  StoppedStateOnExit(const StoppedStateOnExit&) = delete;
  StoppedStateOnExit& operator=(const StoppedStateOnExit&) = delete;
  ~StoppedStateOnExit() {
    ui_.SetHourglass(false);
    window_.ShowImportingPanel(false);
    window_.SetStoppedState();
    window_.SetStatus(kReadyStatus);
  }

 private:
  ImportWindow& window_;
  platform::UserInterface& ui_;
};

}  // namespace

std::optional<ArchiveNames> DeriveArchiveNames(const std::string& archivePath) {
  const auto slash = archivePath.find_last_of("/\\");
  const std::size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
  ArchiveNames names;
  names.archivePath = archivePath;
  names.folder = archivePath.substr(0, nameStart);
  names.fileName = archivePath.substr(nameStart);
  const auto dot = names.fileName.find_last_of('.');
  if (dot == std::string::npos || dot == 0) return std::nullopt;
  names.baseName = names.fileName.substr(0, dot);
  return names;
}

std::string ArchiverCommandLine(const std::string& winRarPath, const std::string& archivePath,
                                const std::string& destinationFolder) {
  return winRarPath + " X -o+ " + "\"" + archivePath + "\" \"" + destinationFolder + "\"";
}

platform::Status CheckArchiverPaths(const std::string& archivePath,
                                    const std::string& destinationFolder) {
  const auto refuse = [](const std::string& what, const std::string& path) {
    return platform::Status::Error(what + " \"" + path +
                                   "\" holds a double quote (\"), which the archiver's command "
                                   "line cannot carry. Please rename it and try again.");
  };
  if (archivePath.find('"') != std::string::npos) return refuse("The archive's path", archivePath);
  if (destinationFolder.find('"') != std::string::npos) {
    return refuse("The folder to extract into", destinationFolder);
  }
  return platform::Status::Ok();
}

std::string PlaylistListText(const std::string& displayTitle, const std::string& archivePath) {
  return displayTitle + kListTextGap + archivePath + ")";
}

ImportDriver::ImportDriver(ImportWindow& window, std::string applicationDirectory,
                           std::string winRarPath, platform::ProcessLauncher& launcher,
                           platform::UserInterface& ui, platform::FileStore& files,
                           const FadeTimingTable& fadeTimings)
    : window_(window),
      applicationDirectory_(std::move(applicationDirectory)),
      winRarPath_(std::move(winRarPath)),
      launcher_(launcher),
      ui_(ui),
      files_(files),
      fadeTimings_(fadeTimings) {}

void ImportDriver::cmdPlayListAdd_Click() {
  const std::optional<std::string> chosen =
      ui_.ShowOpenDialog(kSequenceFilter, kAddSequenceTitle, window_.LastImportFolder(), "");
  if (!chosen || chosen->empty()) return;

  const std::optional<ArchiveNames> names = DeriveArchiveNames(*chosen);
  if (!names) {
    ui_.ShowMessage("The file \"" + *chosen +
                    "\" cannot be imported: its name has no extension, so the name of the "
                    "sequence inside it is not known." +
                    kParagraph + "Please choose a Spectrum sequence archive (.msq).");
    return;
  }

  if (const platform::Status paths = CheckArchiverPaths(names->archivePath, TempFolder()); !paths) {
    ui_.ShowMessage("The sequence \"" + names->archivePath + "\" cannot be imported." + kParagraph +
                    paths.message());
    return;
  }

  if (names->folder != window_.LastImportFolder()) {
    window_.SetLastImportFolder(names->folder);
    window_.SavePreferences();
  }

  window_.ShowImportingPanel(true);
  window_.SetBusyState();
  ui_.DoEvents();
  const StoppedStateOnExit restore(window_, ui_);
  // The window's handler must not see an exception; whatever went wrong, the
  // user hears about it and the window comes back.
  try {
    ImportArchive(*names);
  } catch (const std::exception& e) {
    RemoveExtractedDocument(TempFolder() + names->baseName);
    ui_.ShowMessage("The sequence \"" + names->archivePath + "\" could not be imported." +
                    kParagraph + e.what());
  }
}

std::string ImportDriver::TempFolder() const {
  return platform::TempFolder(applicationDirectory_) + platform::kPathSeparator;
}

void ImportDriver::ImportArchive(const ArchiveNames& names) {
  const char sep = platform::kPathSeparator;
  const std::string tempFolder = TempFolder();
  const std::string cacheFolder = platform::CacheFolder(applicationDirectory_) + sep;
  const std::string documentFile = tempFolder + names.baseName;
  const std::string cacheFile = cacheFolder + names.baseName + kCacheExtension;

  for (const std::string& folder : {tempFolder, cacheFolder}) {
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    if (ec) {
      ui_.ShowMessage("The sequence \"" + names.archivePath +
                      "\" cannot be imported: the folder \"" + folder + "\" cannot be created (" +
                      ec.message() + ").");
      return;
    }
  }

  window_.SetStatus(kImportingStatus);
  ui_.SetHourglass(true);
  ui_.DoEvents();

  // A document left behind by an import that was cut short must not pass for
  // this archive's if the archive turns out not to hold one.
  RemoveExtractedDocument(documentFile);

  const std::string commandLine = ArchiverCommandLine(winRarPath_, names.archivePath, tempFolder);
  const platform::Result<int> ran = ExecCmd(commandLine, launcher_);
  if (!ran) {
    RemoveExtractedDocument(documentFile);
    ui_.ShowMessage("The sequence archive \"" + names.archivePath +
                    "\" could not be extracted, because the archiver could not be run." +
                    kParagraph + ran.message());
    return;
  }

  if (!IsRegularFile(documentFile)) {
    std::string message = "The archive \"" + names.archivePath +
                          "\" holds no sequence document named \"" + names.baseName +
                          "\" at its top level, so nothing was imported.";
    // The exit code decides nothing, but it tells a broken archive from a
    // foreign one.
    if (ran.value() != 0) {
      message += kParagraph + std::string("The archiver ended with code ") +
                 std::to_string(ran.value()) + ".";
      // Its own words name what it refused (a damaged entry, say).
      std::string said = launcher_.LastErrorOutput();
      while (!said.empty() && (said.back() == '\n' || said.back() == '\r' || said.back() == ' ')) {
        said.pop_back();
      }
      if (!said.empty()) message += std::string(kParagraph) + "The archiver said: " + said;
    }
    ui_.ShowMessage(message);
    return;
  }

  std::string audioFile;
  std::string displayTitle;
  CompileSequence(documentFile, cacheFile, audioFile, displayTitle,
                  CompileServices{window_, ui_, files_, fadeTimings_, window_.LastImportFolder()});

  if (!audioFile.empty()) {
    window_.AddImportedSequence(ImportedSequence{audioFile, cacheFile,
                                                 PlaylistListText(displayTitle, names.archivePath),
                                                 names.archivePath});
  }
  // Also when the sequence was refused: the file then holds the list as it is.
  window_.SavePlaylist();

  RemoveExtractedDocument(documentFile);
}

}  // namespace importer
