#pragma once

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

// The path an entry name stands for below the destination, with "/"
// separators: "\" counts as a separator (RAR archives made on Windows), and
// empty and "." parts are dropped. An absolute path, a drive ("C:") or any
// ".." part is an error saying why. A name with nothing left (".", "./")
// gives an empty path.
platform::Result<std::string> SafeEntryPath(std::string_view name);

// RAR 4 archives only: checks the data of every stored entry against the
// CRC in its header, which libarchive does not do for stored entries. The
// error names the first damaged entry. Anything else (another format, an
// encrypted or split entry, a header it cannot follow) is left to libarchive.
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
// Extraction works relative to the destination, as libarchive's secure
// flags require, so this changes the process's working directory while it
// runs and restores it before returning.
platform::Result<Summary> ExtractArchive(const std::string& archive, const std::string& destination,
                                         std::ostream& log);

// The program: `args` are the command-line arguments after the program name,
// in the archiver's form: X -o+ <archive> <destination folder> (the
// destination may end in "/" or "\"). Returns the exit code:
//   0  every entry extracted (links may have been skipped)
//   1  the archive could not be read, held no entries, or an entry was refused
//   2  wrong command line (usage on `err`)
int RunExtractor(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace extractor
