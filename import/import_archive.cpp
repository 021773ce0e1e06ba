#include "import/import_archive.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <exception>
#include <filesystem>
#include <system_error>
#include <vector>

#include "import/exec_cmd.h"
#include "import/import_driver.h"
#include "platform/paths.h"
#include "platform/utf8_path.h"
#include "text/text.h"

namespace importer {
namespace {

namespace fs = std::filesystem;

constexpr const char* kCacheExtension = ".csq";
constexpr const char* kParagraph = "\r\n\r\n";
// Names listed of an archive that lacks its document; the rest are counted.
constexpr std::size_t kNamesListed = 8;

bool IsRegularFile(const std::string& path) {
  std::error_code ec;
  return fs::is_regular_file(platform::FilePath(path), ec);
}

// Only a plain file is ever removed: if the archive held a folder under the
// document's name, it stays, like every other file the archive held.
void RemoveExtractedDocument(const std::string& path) {
  if (!IsRegularFile(path)) return;
  std::error_code ec;
  fs::remove(platform::FilePath(path), ec);
}

// What the archiver wrote, fit to quote: one escaped line per line it wrote,
// so a name in it cannot forge a line of the message or drive a terminal.
std::string Trimmed(std::string said) {
  while (!said.empty() && (said.back() == '\n' || said.back() == '\r' || said.back() == ' ')) {
    said.pop_back();
  }
  std::string quoted;
  std::size_t start = 0;
  while (start < said.size()) {
    std::size_t end = said.find('\n', start);
    if (end == std::string::npos) end = said.size();
    std::string_view line(said.data() + start, end - start);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (!quoted.empty()) quoted += '\n';
    quoted += text::Escaped(line);
    start = end + 1;
  }
  return quoted;
}

bool SaysDiskFull(const std::string& said) {
  if (said.find(std::strerror(ENOSPC)) != std::string::npos) return true;
#ifdef EDQUOT
  if (said.find(std::strerror(EDQUOT)) != std::string::npos) return true;
#endif
  return false;
}

// Whatever stands where the archive's document goes (a folder left by an
// earlier archive, a link) would make every import of that name fail. It is
// removed, inside the extraction folder only: a link goes, never what it
// points to, and a name of "." or ".." would name the folder or its parent.
void ClearWayForDocument(const std::string& extractFolder, const std::string& documentName) {
  if (documentName.empty() || documentName == "." || documentName == "..") return;
  if (documentName.find_first_of("/\\") != std::string::npos) return;
  std::error_code ec;
  const fs::path path = platform::FilePath(extractFolder) / platform::FilePath(documentName);
  if (fs::symlink_status(path, ec).type() == fs::file_type::not_found) return;
  fs::remove_all(path, ec);
}

// The playlist file holds one value per line: a value with a line break
// would split into two lines and shift every later entry.
bool HoldsControlCharacters(std::string_view value) {
  return std::any_of(value.begin(), value.end(),
                     [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == '\x7F'; });
}

std::string WithoutControlCharacters(std::string value) {
  for (char& c : value) {
    if (static_cast<unsigned char>(c) < 0x20 || c == '\x7F') c = ' ';
  }
  return value;
}

// What this extraction wrote at the top of `folder`: the names written since
// `since`. The extractor sets no times of its own, so a file or folder it
// wrote carries the moment it wrote it; leftovers of earlier imports do not.
std::vector<std::string> WrittenSince(const std::string& folder, fs::file_time_type since) {
  std::vector<std::string> names;
  std::error_code ec;
  for (fs::directory_iterator it(platform::FilePath(folder), ec), end; !ec && it != end;
       it.increment(ec)) {
    std::error_code timeError;
    const fs::file_time_type written = it->last_write_time(timeError);
    if (!timeError && written >= since) names.push_back(platform::PathText(it->path().filename()));
  }
  std::sort(names.begin(), names.end());
  return names;
}

std::string NameList(const std::vector<std::string>& names) {
  std::string list;
  for (std::size_t i = 0; i < names.size() && i < kNamesListed; ++i) {
    list += (i == 0 ? "\"" : ", \"") + names[i] + "\"";
  }
  if (names.size() > kNamesListed) {
    list += " and " + std::to_string(names.size() - kNamesListed) + " more";
  }
  return list;
}

struct Names {
  std::string baseName;
  std::string document;
  std::string cache;
};

Names NamesOf(const ImportPlan& plan) {
  const std::optional<ArchiveNames> derived = DeriveArchiveNames(plan.archivePath);
  Names names;
  names.baseName = derived ? derived->baseName : std::string();
  const std::string documentName = plan.documentName.empty() ? names.baseName : plan.documentName;
  names.document = plan.extractFolder + platform::kPathSeparator + documentName;
  names.cache = !plan.cachePath.empty() ? plan.cachePath
                                        : plan.cacheFolder + platform::kPathSeparator +
                                              names.baseName + kCacheExtension;
  return names;
}

ImportOutcome Refuse(const ImportServices& with, const std::string& message,
                     bool compiled = false) {
  with.ui.ShowMessage(message);
  return ImportOutcome{std::nullopt, compiled, message};
}

// The user interface as the import has it, remembering the last message
// shown: the compiler tells its refusals itself, and the front end's log
// wants the same words.
class RememberingUi final : public platform::UserInterface {
 public:
  explicit RememberingUi(platform::UserInterface& inner) : inner_(inner) {}
  void ShowMessage(const std::string& text) override {
    last_ = text;
    inner_.ShowMessage(text);
  }
  void ShowNotice(const std::string& text) override {
    last_ = text;
    inner_.ShowNotice(text);
  }
  std::optional<std::string> ShowOpenDialog(const std::string& filter, const std::string& title,
                                            const std::string& initialFolder,
                                            const std::string& fileName) override {
    return inner_.ShowOpenDialog(filter, title, initialFolder, fileName);
  }
  void DoEvents() override { inner_.DoEvents(); }
  void WaitForEvents(std::chrono::microseconds timeout) override { inner_.WaitForEvents(timeout); }
  void SetHourglass(bool busy) override { inner_.SetHourglass(busy); }
  const std::string& Last() const { return last_; }

 private:
  platform::UserInterface& inner_;
  std::string last_;
};

ImportOutcome Import(const ImportPlan& plan, const ImportServices& with, const Names& names,
                     bool& compiled) {
  const std::string& archive = plan.archivePath;
  const std::string documentName =
      platform::PathText(platform::FilePath(names.document).filename());
  const std::string cacheFolder = platform::PathText(platform::FilePath(names.cache).parent_path());
  for (const std::string& folder : {plan.extractFolder, cacheFolder}) {
    if (folder.empty()) continue;
    std::error_code ec;
    fs::create_directories(platform::FilePath(folder), ec);
    if (ec) {
      return Refuse(with, "The sequence \"" + archive + "\" cannot be imported: the folder \"" +
                              folder + platform::kPathSeparator + "\" cannot be created (" +
                              ec.message() + ").");
    }
  }

  with.window.SetStatus(kImportingStatus);
  with.ui.SetHourglass(true);
  with.ui.DoEvents();

  // A document left behind by an import that was cut short must not pass for
  // this archive's if the archive turns out not to hold one.
  ClearWayForDocument(plan.extractFolder, documentName);

  const fs::file_time_type started = fs::file_time_type::clock::now() - std::chrono::seconds(1);
  const std::string commandLine = ArchiverCommandLine(
      plan.archiverPath, archive, plan.extractFolder + platform::kPathSeparator);
  const MonotonicNow now = with.now ? with.now : [] { return std::chrono::steady_clock::now(); };
  const auto runStarted = now();
  bool timedOut = false;
  bool cancelled = false;
  const platform::KeepWaiting keepWaiting = [&] {
    with.ui.DoEvents();
    cancelled = with.cancelled && with.cancelled();
    timedOut = now() - runStarted >= kExtractionTimeLimit;
    return !cancelled && !timedOut;
  };
  const platform::Result<int> ran = ExecCmd(commandLine, with.launcher, keepWaiting);
  if (!ran) {
    RemoveExtractedDocument(names.document);
    if (cancelled) return ImportOutcome{};
    if (timedOut) {
      return Refuse(with, "The sequence archive \"" + archive +
                              "\" could not be extracted: the archiver was still running after " +
                              std::to_string(kExtractionTimeLimit.count()) +
                              " seconds, so the import ended it. The archive may be damaged." +
                              kParagraph + "Nothing was imported.");
    }
    return Refuse(with, "The sequence archive \"" + archive +
                            "\" could not be extracted, because the archiver could not be run." +
                            kParagraph + ran.message());
  }

  if (!IsRegularFile(names.document)) {
    if (ran.value() != 0) {
      // The archiver refused the file: what it said comes first, not a
      // missing document it never got to.
      const std::string said = Trimmed(with.launcher.LastErrorOutput());
      if (SaysDiskFull(said)) {
        return Refuse(with, "The sequence archive \"" + archive +
                                "\" could not be extracted: the disk holding \"" +
                                plan.extractFolder +
                                "\" is full. Please free some space on it and import the "
                                "sequence again." +
                                kParagraph + "The archiver said: " + said);
      }
      return Refuse(
          with,
          "The archive \"" + archive +
              "\" is damaged or is not an archive, so nothing was imported." + kParagraph +
              (said.empty() ? "The archiver ended with code " + std::to_string(ran.value()) + "."
                            : "The archiver said: " + said));
    }
    std::string message = "The archive \"" + archive + "\" holds no sequence document named \"" +
                          documentName + "\" at its top level, so nothing was imported.";
    const std::vector<std::string> held = WrittenSince(plan.extractFolder, started);
    if (!held.empty()) message += kParagraph + std::string("It holds ") + NameList(held) + ".";
    return Refuse(with, message);
  }

  std::string audioFile;
  std::string displayTitle;
  compiled = true;
  try {
    CompileSequence(names.document, names.cache, audioFile, displayTitle,
                    CompileServices{with.window, with.ui, with.files, with.fadeTimings,
                                    plan.audioFolder, archive});
  } catch (...) {
    RemoveExtractedDocument(names.document);
    throw;
  }
  RemoveExtractedDocument(names.document);
  if (HoldsControlCharacters(audioFile)) {
    return Refuse(with,
                  "The sequence \"" + archive +
                      "\" was not added to the playlist: the path of its audio file \"" +
                      text::Escaped(audioFile) +
                      "\" holds a line break or another control character, which the playlist "
                      "file cannot keep. Please rename the file and import the sequence again.",
                  true);
  }
  // A refused sequence: the compiler has told the user why.
  if (audioFile.empty()) return ImportOutcome{std::nullopt, true};
  if (HoldsControlCharacters(displayTitle)) {
    with.ui.ShowMessage("The title of the sequence \"" + archive +
                        "\" held line breaks or other control characters, which the playlist "
                        "cannot keep; they were replaced by blanks: " +
                        WithoutControlCharacters(displayTitle));
    displayTitle = WithoutControlCharacters(displayTitle);
  }
  return ImportOutcome{
      ImportedSequence{audioFile, names.cache, PlaylistListText(displayTitle, archive), archive,
                       displayTitle},
      true};
}

}  // namespace

platform::Status CheckImportPlan(const ImportPlan& plan) {
  if (HoldsControlCharacters(plan.archivePath)) {
    return platform::Status::Error(
        "The sequence \"" + text::Escaped(plan.archivePath) +
        "\" cannot be imported: its path holds a line break or another control character, which "
        "the playlist file cannot keep. Please rename it and try again.");
  }
  if (plan.documentName.empty() && !DeriveArchiveNames(plan.archivePath)) {
    return platform::Status::Error(
        "The file \"" + plan.archivePath +
        "\" cannot be imported: its name has no extension, so the name of the sequence inside "
        "it is not known." +
        kParagraph + "Please choose a Spectrum sequence archive (.msq).");
  }
  if (const platform::Status paths =
          CheckArchiverPaths(plan.archivePath, plan.extractFolder + platform::kPathSeparator);
      !paths) {
    return platform::Status::Error("The sequence \"" + plan.archivePath + "\" cannot be imported." +
                                   kParagraph + paths.message());
  }
  return platform::Status::Ok();
}

ImportOutcome ImportArchive(const ImportPlan& plan, const ImportServices& with) {
  if (const platform::Status checked = CheckImportPlan(plan); !checked) {
    return Refuse(with, checked.message());
  }
  const Names names = NamesOf(plan);
  RememberingUi ui(with.ui);
  const ImportServices remembered{
      with.window, ui, with.files, with.launcher, with.fadeTimings, with.cancelled, with.now};
  // Whatever went wrong, the user hears about it once.
  bool compiled = false;
  try {
    ImportOutcome outcome = Import(plan, remembered, names, compiled);
    // A sequence the compiler refused: it said why, last.
    if (!outcome.sequence && outcome.compiled && outcome.refusal.empty()) {
      outcome.refusal = ui.Last();
    }
    return outcome;
  } catch (const std::exception& e) {
    return Refuse(
        with,
        "The sequence \"" + plan.archivePath + "\" could not be imported." + kParagraph + e.what(),
        compiled);
  }
}

}  // namespace importer
