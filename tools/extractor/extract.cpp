#include "tools/extractor/extract.h"

#include <archive.h>
#include <archive_entry.h>

#include <array>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string_view>
#include <system_error>
#include <utility>

#include "binary/crc32.h"
#include "binary/little_endian.h"
#include "platform/file_store.h"
#include "platform/utf8_path.h"
#include "text/text.h"
#include "tools/extractor/entry_files.h"
#include "tools/rar4/rar4_format.h"

namespace extractor {
namespace fs = std::filesystem;

namespace {

constexpr const char* kProgram = "glimmer-extract";
constexpr std::size_t kBlockSize = 64 * 1024;

std::string MegaBytes(std::uint64_t bytes) {
  constexpr std::uint64_t kMega = std::uint64_t{1} << 20;
  if (bytes % kMega != 0) return std::to_string(bytes) + " bytes";
  return std::to_string(bytes / kMega) + " MB";
}

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

void UsageText(std::ostream& to) {
  to << "Usage: " << kProgram << " X -o+ <archive> <destination folder>\n"
     << "Extracts every file of the archive under the destination folder with the paths\n"
     << "stored in the archive, overwriting existing files.\n";
}

void Usage(std::ostream& err, const std::string& problem) {
  err << kProgram << ": " << problem << "\n";
  UsageText(err);
}

// How copying one entry ended.
enum class CopyEnd { kDone, kReadFailed, kWriteFailed, kEntryLimit, kArchiveLimit, kStopped };
struct Copied {
  CopyEnd end = CopyEnd::kDone;
  std::string why;          // for a failure
  std::uint64_t bytes = 0;  // the size the file reached, holes included
};

// What a failed write says: a full disk is named as such, with the folder
// whose disk it is, because that is what the user can act on.
std::string WriteFailure(archive* disk, const std::string& destination) {
  const int error = archive_errno(disk);
  if (error == ENOSPC) {
    return "the disk holding " + destination + " is full (" + std::strerror(error) + ")";
  }
#ifdef EDQUOT
  if (error == EDQUOT) {
    return "the disk quota for " + destination + " is used up (" + std::strerror(error) + ")";
  }
#endif
  return ErrorText(disk) + (error > 0 ? std::string(" (") + std::strerror(error) + ")" : "");
}

// Copies the current entry's data from the reader to the disk writer, up to
// `entryLimit` bytes of file and `archiveLeft` for the archive as a whole.
// A write libarchive only warns about (a failed write(), data past the
// entry's size) is a failure: what it leaves is a file with a hole or a
// cut tail that reads as complete.
Copied CopyData(archive* reader, archive* disk, std::uint64_t entryLimit, std::uint64_t archiveLeft,
                const std::string& destination) {
  const void* block = nullptr;
  size_t size = 0;
  la_int64_t offset = 0;
  Copied copied;
  for (;;) {
    if (StopRequested()) {
      copied.end = CopyEnd::kStopped;
      return copied;
    }
    const int r = archive_read_data_block(reader, &block, &size, &offset);
    if (r == ARCHIVE_EOF) return copied;
    if (r < ARCHIVE_WARN) {
      copied.end = CopyEnd::kReadFailed;
      copied.why = "reading it failed: " + ErrorText(reader);
      return copied;
    }
    // A sparse entry takes its size from its last block's end, holes and all.
    const std::uint64_t end = static_cast<std::uint64_t>(offset < 0 ? 0 : offset) + size;
    copied.bytes = std::max(copied.bytes, end);
    if (copied.bytes > entryLimit || copied.bytes > archiveLeft) {
      copied.end = copied.bytes > entryLimit ? CopyEnd::kEntryLimit : CopyEnd::kArchiveLimit;
      return copied;
    }
    if (archive_write_data_block(disk, block, size, offset) != ARCHIVE_OK) {
      copied.end = CopyEnd::kWriteFailed;
      copied.why = "writing it failed: " + WriteFailure(disk, destination);
      return copied;
    }
  }
}

}  // namespace

std::string PartialNameOfThisRun() {
  return std::string(kPartialName) + "-" + std::to_string(ThisProcessId());
}

// A name without a process id is from an earlier version, whose runs are
// over.
bool IsDeadRunsPartial(std::string_view name) {
  if (!name.starts_with(kPartialName)) return false;
  std::string_view rest = name.substr(kPartialName.size());
  if (rest.empty()) return true;
  if (rest.front() != '-') return false;
  rest.remove_prefix(1);
  long pid = 0;
  std::size_t digits = 0;
  while (digits < rest.size() && digits < 10 && rest[digits] >= '0' && rest[digits] <= '9') {
    pid = pid * 10 + (rest[digits] - '0');
    ++digits;
  }
  if (digits == 0) return false;
  if (digits < rest.size() && rest[digits] != '-') return false;
  if (pid == ThisProcessId()) return false;
  return pid > 0 && ProcessIsGone(pid);
}

namespace {

// The `bytes`-byte little-endian number at `p`.
std::uint32_t Little(const unsigned char* p, int bytes) {
  return bytes == 2 ? binary::ReadLittle<std::uint16_t>(p) : binary::ReadLittle<std::uint32_t>(p);
}

}  // namespace

platform::Status CheckStoredRarEntries(const std::string& archivePath) {
  using namespace rar4;
  std::ifstream in(archivePath, std::ios::binary);
  char marker[kMarker.size()] = {};
  if (!in.read(marker, sizeof marker) || std::string_view(marker, sizeof marker) != kMarker) {
    return platform::Status::Ok();  // not RAR 4: libarchive checks what it reads
  }
  in.seekg(0, std::ios::end);
  const std::streamoff end = in.tellg();
  if (end < 0) return platform::Status::Ok();
  const auto fileSize = static_cast<std::uint64_t>(end);
  std::uint64_t offset = kMarker.size();
  std::vector<unsigned char> header;
  std::vector<char> data(kBlockSize);
  for (;;) {
    unsigned char fixed[7];
    in.seekg(static_cast<std::streamoff>(offset));
    if (!in.read(reinterpret_cast<char*>(fixed), sizeof fixed)) break;
    const std::uint8_t type = fixed[2];
    const auto flags = static_cast<std::uint16_t>(Little(fixed + 3, 2));
    const std::uint32_t headSize = Little(fixed + 5, 2);
    if (type == kEndBlock || headSize < sizeof fixed) break;
    if (headSize > fileSize - offset) break;  // cut short: libarchive reports that
    header.assign(fixed, fixed + sizeof fixed);
    header.resize(headSize);
    if (!in.read(reinterpret_cast<char*>(header.data() + sizeof fixed),
                 static_cast<std::streamsize>(headSize - sizeof fixed))) {
      break;  // cut short: libarchive reports that
    }
    std::uint64_t dataSize = 0;
    if ((flags & kLongBlock) && headSize >= 11) dataSize = Little(header.data() + 7, 4);
    if (type == kFileHeader && headSize >= kFileNameAt) {
      if ((flags & kLargeSizes) && headSize >= kFileNameAtLarge) {
        dataSize |= std::uint64_t{Little(header.data() + kFileHighPackSizeAt, 4)} << 32;
      }
      const std::uint32_t storedCrc = Little(header.data() + kFileCrcAt, 4);
      const std::uint8_t method = header[kFileMethodAt];
      const std::uint32_t nameSize = Little(header.data() + kFileNameSizeAt, 2);
      const std::size_t nameAt = (flags & kLargeSizes) ? kFileNameAtLarge : kFileNameAt;
      std::string name;
      if (nameAt + nameSize <= headSize) {
        name.assign(reinterpret_cast<const char*>(header.data() + nameAt), nameSize);
        // A Unicode name follows the 8-bit one after a zero.
        name = name.substr(0, name.find('\0'));
        for (char& c : name) {
          if (c == '\\') c = '/';
        }
      }
      // A size past the end is a cut-off archive (libarchive reports it, after
      // what came before) or a lying one; either way this walk ends here.
      if (dataSize > fileSize - offset - headSize) break;
      const bool checkable = method == kMethodStore && !(flags & (kSplit | kEncrypted)) &&
                             (flags & kDirectory) != kDirectory;
      if (checkable) {
        binary::Crc32 crc;
        for (std::uint64_t left = dataSize; left > 0;) {
          const auto chunk = static_cast<std::size_t>(std::min<std::uint64_t>(left, data.size()));
          if (!in.read(data.data(), static_cast<std::streamsize>(chunk))) {
            return platform::Status::Ok();  // cut short: libarchive reports that
          }
          crc.Update(reinterpret_cast<const unsigned char*>(data.data()), chunk);
          left -= chunk;
        }
        if (crc.Value() != storedCrc) {
          return platform::Status::Error("the data of entry " + text::Escaped(name) +
                                         " does not match its CRC: the archive is damaged");
        }
      }
    }
    // Both sizes lie within the file, so the offset moves on and cannot wrap
    // (a size near 2^64 used to bring it back to the same header for ever).
    if (dataSize > fileSize - offset - headSize) break;
    offset += headSize + dataSize;
  }
  return platform::Status::Ok();
}

std::string DocumentNameOf(const std::string& archivePath) {
  const std::size_t slash = archivePath.find_last_of("/\\");
  const std::string fileName =
      slash == std::string::npos ? archivePath : archivePath.substr(slash + 1);
  const std::size_t dot = fileName.rfind('.');
  return dot == std::string::npos || dot == 0 ? fileName : fileName.substr(0, dot);
}

#ifdef _WIN32
namespace {

// Windows drops the dots and spaces that end a name (".. " is ".."), reads
// "a:b" as a stream of a file or a drive's folder, and opens its devices by
// name in any folder ("nul.txt", "COM1"): an entry named so would land
// outside the destination, in a stream, or on a device.
platform::Status WindowsSafePart(std::string_view part) {
  std::string_view trimmed = part;
  while (!trimmed.empty() && (trimmed.back() == '.' || trimmed.back() == ' ')) {
    trimmed.remove_suffix(1);
  }
  if (trimmed.empty() && part.find("..") != std::string_view::npos) {
    return platform::Status::Error("its path leads out of the destination (\"..\")");
  }
  if (part.find(':') != std::string_view::npos) {
    return platform::Status::Error("its name holds a \":\", which Windows reads as a stream");
  }
  if (platform::WindowsDeviceKind(part).has_value()) {
    std::string device(part.substr(0, part.find('.')));
    while (!device.empty() && device.back() == ' ') device.pop_back();
    return platform::Status::Error("its name is the Windows device " + device);
  }
  return platform::Status::Ok();
}

}  // namespace
#endif

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
#ifdef _WIN32
    if (const platform::Status windows = WindowsSafePart(part); !windows) {
      return platform::Result<std::string>::Error(windows.message());
    }
#endif
    if (!part.empty() && part != ".") {
      if (!safe.empty()) safe += '/';
      safe += part;
    }
    start = end + 1;
  }
  return safe;
}

platform::Result<Summary> ExtractArchive(const std::string& archivePath,
                                         const std::string& destination, std::ostream& log,
                                         const Limits& limits) {
  using R = platform::Result<Summary>;
  std::error_code ec;
  // libarchive's own open error does not say why the file could not be had.
  const auto archiveStatus = fs::status(platform::FilePath(archivePath), ec);
  if (!fs::exists(archiveStatus)) {
    return R::Error("Cannot read the archive " + text::Escaped(archivePath) +
                    ": there is no such file");
  }
  if (fs::is_directory(archiveStatus)) {
    return R::Error("Cannot read the archive " + text::Escaped(archivePath) + ": it is a folder");
  }
  // A pipe or device may never end, and opening a pipe waits for a writer.
  if (!fs::is_regular_file(archiveStatus)) {
    return R::Error("Cannot read the archive " + text::Escaped(archivePath) +
                    ": it is not a regular file (a device or pipe)");
  }
  // libarchive takes stored RAR entries as they come: a damaged one is
  // caught here, before anything is written.
  if (const platform::Status crc = CheckStoredRarEntries(archivePath); !crc) {
    return R::Error("Cannot extract the archive " + text::Escaped(archivePath) + ": " +
                    crc.message());
  }

  Reader reader(archive_read_new());
  archive_read_support_format_all(reader.get());
  archive_read_support_filter_all(reader.get());
  // A RAR 4 name without its Unicode form is in the Windows code page of the
  // machine that packed it, as the sequencing product writes it; read as
  // UTF-8 it would not match the archive's own name. Left alone where the
  // converter is missing.
  (void)archive_read_set_options(reader.get(), "rar:hdrcharset=CP1252");
  // Opened before entering the destination, so a relative archive path
  // still means what the caller meant.
  if (archive_read_open_filename(reader.get(), archivePath.c_str(), kBlockSize) != ARCHIVE_OK) {
    return R::Error("Cannot read the archive " + text::Escaped(archivePath) + ": " +
                    ErrorText(reader.get()));
  }

  ec.clear();
  fs::create_directories(platform::FilePath(destination), ec);
  std::error_code probe;
  if (!fs::is_directory(platform::FilePath(destination), probe)) {
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
  WorkingDirectory inside(platform::FilePath(destination), ec);
  if (ec)
    return R::Error("Cannot enter the destination folder " + destination + ": " + ec.message());

  ClearDeadRunsPartials();
  // Named in a full disk's message: the folder the user knows.
  const std::string destinationShown =
      text::Escaped(platform::PathText(fs::absolute(platform::FilePath(destination), ec)));
  const std::string archiveShown = text::Escaped(archivePath);

  // Past a limit, nothing of this archive stays: what is half there is no
  // use, and a bomb must not keep the space it took.
  std::vector<std::string> written;
  const auto removeWritten = [&written] {
    for (const std::string& path : written) RemoveWritten(path);
    return std::to_string(written.size()) + (written.size() == 1 ? " file" : " files");
  };
  std::uint64_t total = 0;

  Summary summary;
  int index = 0;
  for (;;) {
    archive_entry* entry = nullptr;
    const int r = archive_read_next_header(reader.get(), &entry);
    if (r == ARCHIVE_EOF) break;
    ++index;
    if (r < ARCHIVE_WARN) {
      return R::Error("Cannot read the archive " + text::Escaped(archivePath) + " at entry " +
                      std::to_string(index) + ": " + ErrorText(reader.get()));
    }
    const char* rawName = archive_entry_pathname(entry);
    if (!rawName) rawName = archive_entry_pathname_utf8(entry);
    const std::string name = rawName ? text::Escaped(rawName) : "#" + std::to_string(index);
    if (r == ARCHIVE_WARN)
      log << kProgram << ": warning: " << name << ": " << ErrorText(reader.get()) << "\n";
    if (!rawName) {
      log << kProgram << ": refused entry " << name << ": its name cannot be read\n";
      ++summary.refused;
      continue;
    }

    const auto safe = SafeEntryPath(rawName);
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
    const PartialFile partial = type == AE_IFREG ? PartialBeside(safe.value()) : PartialFile{};
    archive_entry_set_pathname(entry, (type == AE_IFREG ? partial.Path() : safe.value()).c_str());
    if (archive_write_header(disk.get(), entry) < ARCHIVE_WARN) {
      log << kProgram << ": refused entry " << name << ": " << ErrorText(disk.get()) << "\n";
      // The file may have been created before the refusal.
      if (type == AE_IFREG) RemovePartial(partial);
      ++summary.refused;
      continue;
    }
    const bool isDocument = !limits.documentName.empty() && safe.value() == limits.documentName;
    const std::uint64_t entryLimit = isDocument ? limits.documentBytes : limits.entryBytes;
    const std::uint64_t archiveLeft = limits.archiveBytes - std::min(total, limits.archiveBytes);
    Copied copied;
    if (type == AE_IFREG && archive_entry_size_is_set(entry) && archive_entry_size(entry) > 0) {
      // A declared size past the limit is refused before a byte is written.
      const auto declared = static_cast<std::uint64_t>(archive_entry_size(entry));
      if (declared > entryLimit || declared > archiveLeft) {
        copied.end = declared > entryLimit ? CopyEnd::kEntryLimit : CopyEnd::kArchiveLimit;
      }
    }
    if (type == AE_IFREG && copied.end == CopyEnd::kDone) {
      copied = CopyData(reader.get(), disk.get(), entryLimit, archiveLeft, destinationShown);
    }
    const int finished = archive_write_finish_entry(disk.get());
    if (type == AE_IFREG) {
      const bool whole = copied.end == CopyEnd::kDone && finished >= ARCHIVE_WARN;
      std::error_code renamed;
      if (whole) renamed = MovePartialIntoPlace(partial);
      if (!whole || renamed) RemovePartial(partial);
      if (renamed) {
        log << kProgram << ": refused entry " << name << ": it could not replace "
            << text::Escaped(safe.value()) << ": " << renamed.message() << "\n";
        ++summary.refused;
        continue;
      }
    }
    switch (copied.end) {
      case CopyEnd::kDone:
        break;
      case CopyEnd::kReadFailed:
        // A read failure leaves the reader unusable; nothing after it can be trusted.
      case CopyEnd::kWriteFailed:
        // The next entry would meet the same full disk.
        return R::Error("Cannot extract " + name + " from the archive " + archiveShown + ": " +
                        copied.why);
      case CopyEnd::kStopped:
        return R::Error("Stopped while extracting " + name + " from the archive " + archiveShown +
                        "; its unfinished file was removed");
      case CopyEnd::kEntryLimit:
      case CopyEnd::kArchiveLimit: {
        const std::string limit =
            copied.end == CopyEnd::kArchiveLimit
                ? "the limit of " + MegaBytes(limits.archiveBytes) + " for the whole archive"
            : isDocument ? "the limit of " + MegaBytes(entryLimit) + " for the sequence document"
                         : "the limit of " + MegaBytes(entryLimit) + " for one entry";
        const std::string removed = removeWritten();
        return R::Error("Cannot extract the archive " + archiveShown + ": entry " + name +
                        " unpacks to more than " + limit +
                        ", so the extraction stopped and removed what it wrote (" + removed + ")");
      }
    }
    if (finished < ARCHIVE_WARN) {
      log << kProgram << ": entry " << name << " could not be finished: " << ErrorText(disk.get())
          << "\n";
      ++summary.refused;
      continue;
    }
    if (type == AE_IFREG) {
      ++summary.files;
      written.push_back(safe.value());
      total += copied.bytes;
    } else {
      ++summary.folders;
    }
  }
  return summary;
}

int RunExtractor(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  // Asked for by a person (or help2man), not by the import.
  if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h")) {
    UsageText(out);
    out << "The player's import runs it; it refuses entries that would leave the folder\n"
        << "and never creates links.\n"
        << "Exit status: 0 when every entry was extracted, 1 when the archive could not\n"
        << "be read or an entry was refused, 2 on a wrong command line.\n";
    return 0;
  }
  if (args.size() == 1 && args[0] == "--version") {
    out << kProgram << " " << GLIMMER_VERSION << "\n";
    return 0;
  }
  if (args.size() != 4) {
    Usage(err, "expected 4 arguments, got " + std::to_string(args.size()));
    return 2;
  }
  if (!text::EqualsIgnoringAsciiCase(args[0], "X")) {
    Usage(err, "unknown command \"" + args[0] + "\"");
    return 2;
  }
  if (!text::EqualsIgnoringAsciiCase(args[1], "-o+")) {
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

  Limits limits;
  limits.documentName = DocumentNameOf(archivePath);
  const auto result = ExtractArchive(archivePath, destination, err, limits);
  if (!result.ok()) {
    err << kProgram << ": " << result.message() << "\n";
    return 1;
  }
  const Summary& s = result.value();
  if (s.files + s.folders + s.skipped + s.refused == 0) {
    err << kProgram << ": the archive " << text::Escaped(archivePath) << " holds no entries\n";
    return 1;
  }
  out << kProgram << ": " << s.files << " files and " << s.folders << " folders extracted to "
      << text::Escaped(destination);
  if (s.skipped > 0) out << ", " << s.skipped << " links skipped";
  if (s.refused > 0) out << ", " << s.refused << " entries refused";
  out << "\n";
  return s.refused > 0 ? 1 : 0;
}

}  // namespace extractor
