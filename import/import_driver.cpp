#include "import/import_driver.h"

#include <exception>
#include <filesystem>
#include <system_error>
#include <utility>

#include "import/compile_sequence.h"
#include "import/exec_cmd.h"
#include "platform/paths.h"

namespace importer {
using namespace sequence_format;
namespace {

constexpr const char* kListTextGap = "         (";

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
    window_.SetStatus(succeeded_ ? kReadyStatus : kImportFailedStatus);
  }
  void Succeeded() { succeeded_ = true; }

 private:
  bool succeeded_ = false;
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

  ImportPlan plan;
  plan.archivePath = *chosen;
  plan.archiverPath = winRarPath_;
  plan.extractFolder = platform::TempFolder(applicationDirectory_);
  plan.cacheFolder = platform::CacheFolder(applicationDirectory_);
  if (const platform::Status checked = CheckImportPlan(plan); !checked) {
    ui_.ShowMessage(checked.message());
    window_.ImportFailed(*chosen, checked.message());
    return;
  }

  const std::optional<ArchiveNames> names = DeriveArchiveNames(*chosen);
  if (names->folder != window_.LastImportFolder()) {
    window_.SetLastImportFolder(names->folder);
    window_.SavePreferences();
  }
  plan.audioFolder = window_.LastImportFolder();

  window_.ShowImportingPanel(true);
  window_.SetBusyState();
  ui_.DoEvents();
  StoppedStateOnExit restore(window_, ui_);
  const ImportOutcome outcome =
      ImportArchive(plan, ImportServices{window_, ui_, files_, launcher_, fadeTimings_,
                                         [this] { return window_.ImportCancelled(); }, now_});
  if (outcome.sequence) {
    window_.AddImportedSequence(*outcome.sequence);
    restore.Succeeded();
  } else if (!outcome.refusal.empty()) {
    window_.ImportFailed(*chosen, outcome.refusal);
  }
  // Also when the sequence was refused: the file then holds the list as it is.
  if (outcome.compiled) window_.SavePlaylist();
}

}  // namespace importer
