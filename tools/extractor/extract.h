#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "platform/status.h"

namespace extractor {

// What one extraction did.
struct Summary {
  int files = 0;    // regular files written (existing ones overwritten)
  int folders = 0;  // folder entries created or already there
  int skipped = 0;  // links and special files: never created
  int refused = 0;  // entries that would leave the destination, or failed to write
};

// How much one extraction may write. An archive is a few kilobytes to a few
// hundred megabytes, but what it unpacks to is not bounded by its size (a
// bomb, a sparse entry): past a limit the extraction stops and removes every
// file it wrote.
struct Limits {
  // The sequence document: the entry at the top named `documentName`. The
  // compiler reads no larger document.
  std::uint64_t documentBytes = std::uint64_t{512} << 20;
  std::string documentName;
  // Any other entry (pictures, notes, a song).
  std::uint64_t entryBytes = std::uint64_t{128} << 20;
  // All entries together.
  std::uint64_t archiveBytes = std::uint64_t{1} << 30;
};

// The document's name for `archivePath`: its file name up to, not including,
// its last "." (the whole file name when it has none).
std::string DocumentNameOf(const std::string& archivePath);

// Makes the extractor end with the program that started it (a killed import
// must not leave it filling the disk), and turns SIGTERM, SIGINT and SIGHUP
// into a stop at the next block, which removes the unfinished file. False
// when the parent was already gone.
bool EndWithParent();

// The path an entry name stands for below the destination, with "/"
// separators: "\" counts as a separator (RAR archives made on Windows), and
// empty and "." parts are dropped. An absolute path, a drive ("C:") or any
// ".." part is an error saying why. A name with nothing left (".", "./")
// gives an empty path.
platform::Result<std::string> SafeEntryPath(std::string_view name);

// RAR 4 archives only: every header's sizes are checked against what the
// file holds (a size near 2^64 would wrap the offset back to an earlier
// header and loop for ever), and the error names the entry. Then it checks the data of every stored
// entry against the CRC in its header, which libarchive does not do for stored entries. The error
// names the first damaged entry. Anything else (another format, an encrypted or split entry, a
// header it cannot follow) is left to libarchive.
platform::Status CheckStoredRarEntries(const std::string& archivePath);

// Extracts every regular file and folder of `archive` (any format and
// filter libarchive reads) under `destination`, creating it when missing.
//
// An entry that would land outside the destination (absolute path, "..",
// writing through a symlink already on disk) is refused: `log` gets a line
// naming it and nothing is written for it; the other entries go on. Symlink
// and hardlink entries are skipped with a warning: they are never created,
// so no later entry can be written through one. The error result is for an
// archive that cannot be read at all, or that breaks off partway (what was
// extracted before stays), or whose stored RAR data fails its CRC (nothing
// is extracted then). A file appears at its path only once all its data
// was read, so the entry an archive breaks off in leaves no file, or the
// earlier copy of it as it was.
//
// A write that fails (a full disk) stops the extraction with an error that
// names the disk, and the file it was writing is removed. An entry or an
// archive past its limit (`limits`) stops it too, naming the entry and the
// limit, and every file this extraction wrote is removed. Before it starts,
// unfinished files that a killed extractor left in the destination are
// removed (never those of one still running). Names in `log` and in errors
// are escaped (text::Escaped): an entry name cannot forge a line.
//
// Extraction works relative to the destination, as libarchive's secure
// flags require, so this changes the process's working directory while it
// runs and restores it before returning.
platform::Result<Summary> ExtractArchive(const std::string& archive, const std::string& destination,
                                         std::ostream& log, const Limits& limits = {});

// The program: `args` are the command-line arguments after the program name,
// in the archiver's form: X -o+ <archive> <destination folder> (the
// destination may end in "/" or "\"). Returns the exit code:
//   0  every entry extracted (links may have been skipped)
//   1  the archive could not be read, held no entries, an entry was refused,
//      a write failed or a limit was reached (the document is allowed 512 MB)
//   2  wrong command line (usage on `err`)
int RunExtractor(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace extractor
