#include "import/import_archive.h"

#include <algorithm>
#include <chrono>
#include <exception>
#include <filesystem>
#include <system_error>
#include <vector>

#include "import/exec_cmd.h"
#include "import/import_driver.h"
#include "platform/paths.h"

namespace importer {
namespace {

namespace fs = std::filesystem;

constexpr const char* kCacheExtension = ".csq";
constexpr const char* kParagraph = "\r\n\r\n";
// Names listed of an archive that lacks its document; the rest are counted.
constexpr std::size_t kNamesListed = 8;

bool IsRegularFile(const std::string& path) {
  std::error_code ec;
  return fs::is_regular_file(path, ec);
}

// Only a plain file is ever removed: if the archive held a folder under the
// document's name, it stays, like every other file the archive held.
void RemoveExtractedDocument(const std::string& path) {
  if (!IsRegularFile(path)) return;
  std::error_code ec;
  fs::remove(path, ec);
}

std::string Trimmed(std::string text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) {
    text.pop_back();
  }
  return text;
}

// What this extraction wrote at the top of `folder`: the names written since
// `since`. The extractor sets no times of its own, so a file or folder it
// wrote carries the moment it wrote it; leftovers of earlier imports do not.
std::vector<std::string> WrittenSince(const std::string& folder, fs::file_time_type since) {
  std::vector<std::string> names;
  std::error_code ec;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    std::error_code timeError;
    const fs::file_time_type written = it->last_write_time(timeError);
    if (!timeError && written >= since) names.push_back(it->path().filename().string());
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
  return ImportOutcome{std::nullopt, compiled};
}

ImportOutcome Import(const ImportPlan& plan, const ImportServices& with, const Names& names,
                     bool& compiled) {
  const std::string& archive = plan.archivePath;
  const std::string documentName = fs::path(names.document).filename().string();
  const std::string cacheFolder = fs::path(names.cache).parent_path().string();
  for (const std::string& folder : {plan.extractFolder, cacheFolder}) {
    if (folder.empty()) continue;
    std::error_code ec;
    fs::create_directories(folder, ec);
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
  RemoveExtractedDocument(names.document);

  const fs::file_time_type started = fs::file_time_type::clock::now() - std::chrono::seconds(1);
  const std::string commandLine = ArchiverCommandLine(
      plan.archiverPath, archive, plan.extractFolder + platform::kPathSeparator);
  const platform::Result<int> ran = ExecCmd(commandLine, with.launcher);
  if (!ran) {
    RemoveExtractedDocument(names.document);
    return Refuse(with, "The sequence archive \"" + archive +
                            "\" could not be extracted, because the archiver could not be run." +
                            kParagraph + ran.message());
  }

  if (!IsRegularFile(names.document)) {
    if (ran.value() != 0) {
      // The archiver refused the file: what it said comes first, not a
      // missing document it never got to.
      const std::string said = Trimmed(with.launcher.LastErrorOutput());
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
    CompileSequence(
        names.document, names.cache, audioFile, displayTitle,
        CompileServices{with.window, with.ui, with.files, with.fadeTimings, plan.audioFolder});
  } catch (...) {
    RemoveExtractedDocument(names.document);
    throw;
  }
  RemoveExtractedDocument(names.document);
  // A refused sequence: the compiler has told the user why.
  if (audioFile.empty()) return ImportOutcome{std::nullopt, true};
  return ImportOutcome{
      ImportedSequence{audioFile, names.cache, PlaylistListText(displayTitle, archive), archive,
                       displayTitle},
      true};
}

}  // namespace

platform::Status CheckImportPlan(const ImportPlan& plan) {
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
  // Whatever went wrong, the user hears about it once.
  bool compiled = false;
  try {
    return Import(plan, with, names, compiled);
  } catch (const std::exception& e) {
    return Refuse(
        with,
        "The sequence \"" + plan.archivePath + "\" could not be imported." + kParagraph + e.what(),
        compiled);
  }
}

}  // namespace importer
