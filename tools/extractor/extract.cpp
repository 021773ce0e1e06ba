#include "tools/extractor/extract.h"

#include <archive.h>
#include <archive_entry.h>

#include <filesystem>
#include <memory>
#include <system_error>

namespace extractor {
namespace fs = std::filesystem;

namespace {

constexpr const char* kProgram = "glimmer-extract";
constexpr std::size_t kBlockSize = 64 * 1024;
// Short and fixed, so the temporary name fits wherever the entry's own name
// does, however long that is.
constexpr const char* kPartialName = ".glimmer-extract-partial";

struct ReaderFree {
  void operator()(archive* a) const { archive_read_free(a); }
};
struct WriterFree {
  void operator()(archive* a) const { archive_write_free(a); }
};
using Reader = std::unique_ptr<archive, ReaderFree>;
using Writer = std::unique_ptr<archive, WriterFree>;

std::string ErrorText(archive* a) {
  const char* text = archive_error_string(a);
  return text ? text : "unknown error";
}

// Enters a folder for the lifetime of the object and goes back to where the
// process was before.
class WorkingDirectory {
 public:
  WorkingDirectory(const fs::path& folder, std::error_code& ec) : previous_(fs::current_path(ec)) {
    if (!ec) fs::current_path(folder, ec);
    entered_ = !ec;
  }
  ~WorkingDirectory() {
    if (!entered_) return;
    std::error_code ignored;
    fs::current_path(previous_, ignored);
  }
  WorkingDirectory(const WorkingDirectory&) = delete;
  WorkingDirectory& operator=(const WorkingDirectory&) = delete;

 private:
  fs::path previous_;
  bool entered_ = false;
};

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    const auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

void Usage(std::ostream& err, const std::string& problem) {
  err << kProgram << ": " << problem << "\n"
      << "Usage: " << kProgram << " X -o+ <archive> <destination folder>\n"
      << "Extracts every file of the archive under the destination folder with the paths\n"
      << "stored in the archive, overwriting existing files.\n";
}

// Copies the current entry's data from the reader to the disk writer. An
// error is the reason, naming the side that failed.
platform::Status CopyData(archive* reader, archive* disk) {
  const void* block = nullptr;
  size_t size = 0;
  la_int64_t offset = 0;
  for (;;) {
    const int r = archive_read_data_block(reader, &block, &size, &offset);
    if (r == ARCHIVE_EOF) return platform::Status::Ok();
    if (r < ARCHIVE_WARN) return platform::Status::Error("reading it failed: " + ErrorText(reader));
    if (archive_write_data_block(disk, block, size, offset) < ARCHIVE_WARN) {
      return platform::Status::Error("writing it failed: " + ErrorText(disk));
    }
  }
}

// A name in the folder of `target` (relative, "/"-separated) that nothing on
// disk uses yet. Same folder, so the final rename never crosses file systems;
// unused, so removing it after a failure cannot take anything but our own.
std::string PartialPathBeside(const std::string& target) {
  const std::size_t slash = target.rfind('/');
  const std::string folder = slash == std::string::npos ? "" : target.substr(0, slash + 1);
  std::string candidate = folder + kPartialName;
  for (int n = 1; n < 1000; ++n) {
    std::error_code ec;
    if (!fs::exists(fs::symlink_status(candidate, ec))) break;
    candidate = folder + kPartialName + "-" + std::to_string(n);
  }
  return candidate;
}

}  // namespace

platform::Result<std::string> SafeEntryPath(std::string_view name) {
  std::string path(name);
  for (char& c : path) {
    if (c == '\\') c = '/';
  }
  if (!path.empty() && path.front() == '/') {
    return platform::Result<std::string>::Error("it has an absolute path");
  }
  if (path.size() >= 2 && path[1] == ':' &&
      ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z'))) {
    return platform::Result<std::string>::Error("it names a drive");
  }
  std::string safe;
  std::size_t start = 0;
  while (start <= path.size()) {
    std::size_t end = path.find('/', start);
    if (end == std::string::npos) end = path.size();
    const std::string_view part(path.data() + start, end - start);
    if (part == "..") {
      return platform::Result<std::string>::Error("its path leads out of the destination (\"..\")");
    }
    if (!part.empty() && part != ".") {
      if (!safe.empty()) safe += '/';
      safe += part;
    }
    start = end + 1;
  }
  return safe;
}

platform::Result<Summary> ExtractArchive(const std::string& archivePath,
                                         const std::string& destination, std::ostream& log) {
  using R = platform::Result<Summary>;
  std::error_code ec;
  // libarchive's own open error does not say why the file could not be had.
  const auto archiveStatus = fs::status(archivePath, ec);
  if (!fs::exists(archiveStatus)) {
    return R::Error("Cannot read the archive " + archivePath + ": there is no such file");
  }
  if (fs::is_directory(archiveStatus)) {
    return R::Error("Cannot read the archive " + archivePath + ": it is a folder");
  }

  Reader reader(archive_read_new());
  archive_read_support_format_all(reader.get());
  archive_read_support_filter_all(reader.get());
  // Opened before entering the destination, so a relative archive path
  // still means what the caller meant.
  if (archive_read_open_filename(reader.get(), archivePath.c_str(), kBlockSize) != ARCHIVE_OK) {
    return R::Error("Cannot read the archive " + archivePath + ": " + ErrorText(reader.get()));
  }

  ec.clear();
  fs::create_directories(destination, ec);
  std::error_code probe;
  if (!fs::is_directory(destination, probe)) {
    return R::Error("Cannot create the destination folder " + destination + ": " +
                    (ec ? ec.message() : "a file of that name is in the way"));
  }

  Writer disk(archive_write_disk_new());
  archive_write_disk_set_options(disk.get(), ARCHIVE_EXTRACT_SECURE_NODOTDOT |
                                                 ARCHIVE_EXTRACT_SECURE_SYMLINKS |
                                                 ARCHIVE_EXTRACT_SECURE_NOABSOLUTEPATHS);
  archive_write_disk_set_standard_lookup(disk.get());

  // The secure flags refuse absolute paths, so entries are written relative
  // to the destination.
  WorkingDirectory inside(destination, ec);
  if (ec)
    return R::Error("Cannot enter the destination folder " + destination + ": " + ec.message());

  Summary summary;
  int index = 0;
  for (;;) {
    archive_entry* entry = nullptr;
    const int r = archive_read_next_header(reader.get(), &entry);
    if (r == ARCHIVE_EOF) break;
    ++index;
    if (r < ARCHIVE_WARN) {
      return R::Error("Cannot read the archive " + archivePath + " at entry " +
                      std::to_string(index) + ": " + ErrorText(reader.get()));
    }
    const char* rawName = archive_entry_pathname(entry);
    if (!rawName) rawName = archive_entry_pathname_utf8(entry);
    const std::string name = rawName ? rawName : "#" + std::to_string(index);
    if (r == ARCHIVE_WARN)
      log << kProgram << ": warning: " << name << ": " << ErrorText(reader.get()) << "\n";
    if (!rawName) {
      log << kProgram << ": refused entry " << name << ": its name cannot be read\n";
      ++summary.refused;
      continue;
    }

    const auto safe = SafeEntryPath(name);
    if (!safe.ok()) {
      log << kProgram << ": refused entry " << name << ": " << safe.message() << "\n";
      ++summary.refused;
      continue;
    }
    if (safe.value().empty()) continue;

    const auto type = archive_entry_filetype(entry);
    if (archive_entry_hardlink(entry) != nullptr || type == AE_IFLNK) {
      log << kProgram << ": skipped entry " << name << ": links are never created\n";
      ++summary.skipped;
      continue;
    }
    if (type != AE_IFREG && type != AE_IFDIR) {
      log << kProgram << ": skipped entry " << name << ": not a file or folder\n";
      ++summary.skipped;
      continue;
    }

    // A file is written under a temporary name and only takes its own once
    // all its data arrived: an archive breaking off inside it must not leave
    // a partial file where the whole one is expected, nor replace a good
    // earlier copy. libarchive still writes it, so its checks on the path
    // (no "..", no absolute path, no link on the way) cover the temporary
    // name, whose folder is the entry's.
    const std::string partial = type == AE_IFREG ? PartialPathBeside(safe.value()) : "";
    archive_entry_set_pathname(entry, (type == AE_IFREG ? partial : safe.value()).c_str());
    if (archive_write_header(disk.get(), entry) < ARCHIVE_WARN) {
      log << kProgram << ": refused entry " << name << ": " << ErrorText(disk.get()) << "\n";
      ++summary.refused;
      continue;
    }
    platform::Status copied = platform::Status::Ok();
    if (type == AE_IFREG) copied = CopyData(reader.get(), disk.get());
    const int finished = archive_write_finish_entry(disk.get());
    if (type == AE_IFREG) {
      std::error_code renamed;
      if (copied.ok() && finished >= ARCHIVE_WARN) {
        // rename() replaces a link standing at the target rather than following it.
        fs::rename(partial, safe.value(), renamed);
      }
      if (!copied.ok() || finished < ARCHIVE_WARN || renamed) {
        std::error_code ignored;
        fs::remove(partial, ignored);
      }
      if (renamed) {
        log << kProgram << ": refused entry " << name << ": it could not replace " << safe.value()
            << ": " << renamed.message() << "\n";
        ++summary.refused;
        continue;
      }
    }
    if (!copied.ok()) {
      // A read failure leaves the reader unusable; nothing after it can be trusted.
      return R::Error("Cannot extract " + name + " from the archive " + archivePath + ": " +
                      copied.message());
    }
    if (finished < ARCHIVE_WARN) {
      log << kProgram << ": entry " << name << " could not be finished: " << ErrorText(disk.get())
          << "\n";
      ++summary.refused;
      continue;
    }
    if (type == AE_IFREG) {
      ++summary.files;
    } else {
      ++summary.folders;
    }
  }
  return summary;
}

int RunExtractor(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  if (args.size() != 4) {
    Usage(err, "expected 4 arguments, got " + std::to_string(args.size()));
    return 2;
  }
  if (!EqualsIgnoringCase(args[0], "X")) {
    Usage(err, "unknown command \"" + args[0] + "\"");
    return 2;
  }
  if (!EqualsIgnoringCase(args[1], "-o+")) {
    Usage(err, "unknown switch \"" + args[1] + "\"");
    return 2;
  }
  const std::string& archivePath = args[2];
  std::string destination = args[3];
  while (destination.size() > 1 && (destination.back() == '/' || destination.back() == '\\')) {
    destination.pop_back();
  }
  if (archivePath.empty() || destination.empty()) {
    Usage(err, archivePath.empty() ? "the archive is empty" : "the destination is empty");
    return 2;
  }

  const auto result = ExtractArchive(archivePath, destination, err);
  if (!result.ok()) {
    err << kProgram << ": " << result.message() << "\n";
    return 1;
  }
  const Summary& s = result.value();
  if (s.files + s.folders + s.skipped + s.refused == 0) {
    err << kProgram << ": the archive " << archivePath << " holds no entries\n";
    return 1;
  }
  out << kProgram << ": " << s.files << " files and " << s.folders << " folders extracted to "
      << destination;
  if (s.skipped > 0) out << ", " << s.skipped << " links skipped";
  if (s.refused > 0) out << ", " << s.refused << " entries refused";
  out << "\n";
  return s.refused > 0 ? 1 : 0;
}

}  // namespace extractor
