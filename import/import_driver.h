#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <string>

#include "import/compile_window.h"
#include "import/import_archive.h"
#include "platform/file_store.h"
#include "platform/process_launcher.h"
#include "platform/status.h"
#include "platform/user_interface.h"
#include "sequence_format/fade_timing.h"

namespace importer {

// The narrow view of the main window that an import needs, on top of the
// compiler's view (status line, bitmask box).
class ImportWindow : public CompileWindow {
 public:
  // Shows or hides the frmImporting panel ("Please wait while the sequence
  // is being imported...").
  virtual void ShowImportingPanel(bool visible) = 0;
  virtual void SetBusyState() = 0;
  virtual void SetStoppedState() = 0;
  virtual std::string LastImportFolder() const = 0;
  virtual void SetLastImportFolder(const std::string& folder) = 0;
  // Rewrites preferences.txt; called right after LastImportFolder changed.
  virtual void SavePreferences() = 0;
  // Adds the imported sequence to the playlist as its last entry.
  virtual void AddImportedSequence(const ImportedSequence& sequence) = 0;
  // Rewrites playlist.txt; a write that fails has told the user itself, and
  // the list stays as it is.
  virtual void SavePlaylist() = 0;
  // True once the user asked the import to stop (closing the window): the
  // archiver is ended and nothing more is said.
  virtual bool ImportCancelled() const { return false; }
  // An import of `archivePath` (as the user picked it) added nothing; `why`
  // is what the user was told. For the front end's log: the morning after,
  // the message box is gone.
  virtual void ImportFailed(const std::string& archivePath, const std::string& why) {
    (void)archivePath;
    (void)why;
  }
};

// The names an import derives from the chosen archive path. Both "/" and "\"
// separate folders, so a Windows path typed or stored elsewhere still splits.
struct ArchiveNames {
  std::string archivePath;  // as chosen
  std::string folder;       // up to and including the last separator
  std::string fileName;     // the rest
  std::string baseName;     // fileName up to, not including, its last "."
};
// Nothing when the file name has no "." or nothing before it: no base name
// can be cut, so there is no document to look for.
std::optional<ArchiveNames> DeriveArchiveNames(const std::string& archivePath);

// WinRarPath X -o+ "archive" "destinationFolder": "X" extracts with the
// stored paths, "-o+" overwrites without asking. `destinationFolder` ends with
// a separator.
std::string ArchiverCommandLine(const std::string& winRarPath, const std::string& archivePath,
                                const std::string& destinationFolder);

// The command line carries both paths in double quotes and has no way to
// escape one: a path holding `"` would split there, and the archiver would
// read another archive or write elsewhere. Such a path is refused, with a
// message that names it, before anything runs. A Linux file name may hold a
// quote; a Windows one cannot.
platform::Status CheckArchiverPaths(const std::string& archivePath,
                                    const std::string& destinationFolder);

// Display title, nine blanks, the archive path in parentheses.
std::string PlaylistListText(const std::string& displayTitle, const std::string& archivePath);

inline constexpr const char* kSequenceFilter = "Spectrum Sequences (*.msq) | *.msq";
inline constexpr const char* kAddSequenceTitle = "Add Sequence To Playlist";
inline constexpr const char* kImportingStatus =
    "Importing Spectrum Sequence Into The Playlist... Please Wait";
inline constexpr const char* kReadyStatus = "Ready";
// After an import that added nothing; neither "Stopped" nor "Running", so
// the Start and Stop colours stay.
inline constexpr const char* kImportFailedStatus =
    "Import Failed - Nothing Was Added To The Playlist";

// The Add button's import: archive dialog, extraction into Temp, the
// compiler, the playlist entry. Holds no state between clicks; the window
// may make one per click or keep one.
class ImportDriver {
 public:
  // `applicationDirectory` without a trailing separator; `winRarPath` the
  // archiver found at start-up, without quotation marks; `fadeTimings` the
  // window's table, which must outlive the driver.
  ImportDriver(ImportWindow& window, std::string applicationDirectory, std::string winRarPath,
               platform::ProcessLauncher& launcher, platform::UserInterface& ui,
               platform::FileStore& files, const sequence_format::FadeTimingTable& fadeTimings);
  // A temporary table would be gone before the first import uses it.
  ImportDriver(ImportWindow& window, std::string applicationDirectory, std::string winRarPath,
               platform::ProcessLauncher& launcher, platform::UserInterface& ui,
               platform::FileStore& files, sequence_format::FadeTimingTable&& fadeTimings) = delete;

  // Runs one whole import. Every failure reaches the user as one message and
  // leaves the window in its stopped state with kImportFailedStatus.
  void cmdPlayListAdd_Click();

  // For tests: the clock the archiver's time limit is measured on.
  void SetMonotonicClock(MonotonicNow now) { now_ = std::move(now); }

 private:
  ImportWindow& window_;
  std::string applicationDirectory_;
  std::string winRarPath_;
  platform::ProcessLauncher& launcher_;
  platform::UserInterface& ui_;
  platform::FileStore& files_;
  const sequence_format::FadeTimingTable& fadeTimings_;
  MonotonicNow now_ = [] { return std::chrono::steady_clock::now(); };
};

}  // namespace importer
