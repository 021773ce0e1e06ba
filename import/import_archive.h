#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <string>

#include "import/compile_sequence.h"
#include "import/compile_window.h"
#include "platform/file_store.h"
#include "platform/process_launcher.h"
#include "platform/status.h"
#include "platform/user_interface.h"
#include "sequence_format/fade_timing.h"

namespace importer {

// What an import hands back for the playlist: the texts of the new entry.
// The playlist and its file belong to the front end, which adds the entry.
struct ImportedSequence {
  std::string audioPath;
  std::string cachePath;
  std::string listText;
  std::string archivePath;  // as chosen
  std::string displayTitle;
};

// One import of a sequence archive, as Add, `glimmer compile` and the demo
// run it.
struct ImportPlan {
  std::string archivePath;
  // The archiver (WinRarPath, or the extractor), without quotation marks.
  std::string archiverPath;
  // Where the archive is extracted, without a trailing separator; made when
  // missing.
  std::string extractFolder;
  // The compiled file to write; its folder is made when missing. Empty: the
  // archive's base name with ".csq" in `cacheFolder`.
  std::string cachePath;
  std::string cacheFolder;
  // The document's name inside the archive. Empty: the archive's base name.
  std::string documentName;
  // Where the audio dialog starts (LastImportFolder).
  std::string audioFolder;
};

// How long the archiver may run before the import ends it: a damaged
// archive must not freeze the window. Extracting the largest document the
// compiler reads takes seconds.
inline constexpr std::chrono::seconds kExtractionTimeLimit{300};
// The monotonic clock the time limit is measured on.
using MonotonicNow = std::function<std::chrono::steady_clock::time_point()>;

struct ImportServices {
  CompileWindow& window;  // status line, bitmask box
  platform::UserInterface& ui;
  platform::FileStore& files;
  platform::ProcessLauncher& launcher;
  const sequence_format::FadeTimingTable& fadeTimings;
  // Asked while the archiver runs (after letting window events run): true
  // ends it without another word. Empty: never.
  std::function<bool()> cancelled = nullptr;
  // Empty: the steady clock.
  MonotonicNow now = nullptr;
};

// What can be refused before anything runs: an archive name without an
// extension (no document name can be cut from it) and a path the archiver's
// command line cannot carry. The message is the one the user sees.
platform::Status CheckImportPlan(const ImportPlan& plan);

// Extracts the archive, checks the document, compiles it into the cache file
// and removes the extracted document. Every refusal reaches the user as one
// message through `ui` (the compiler's own included); the result is then
// empty. A damaged archive, a truncated one and a file that is no archive say
// so first, in the archiver's words; an archive without the document names
// what it holds instead.
struct ImportOutcome {
  std::optional<ImportedSequence> sequence;
  // Whether the document reached the compiler (the Add button saves the
  // playlist then, also when the compiler refused the sequence).
  bool compiled = false;
  // Why nothing was added, as the user was told it last; empty after an
  // import that added its sequence or that the user cancelled.
  std::string refusal = {};
};
ImportOutcome ImportArchive(const ImportPlan& plan, const ImportServices& with);

}  // namespace importer
