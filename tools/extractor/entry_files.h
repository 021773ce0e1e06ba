#pragma once

#include <string>
#include <string_view>
#include <system_error>

// The extractor's work on the disk around the entries libarchive writes,
// where each system has its own calls: the partial file an entry is written
// under, its move into place, the leftovers of killed runs, and stopping.
// Paths are relative to the working directory (the destination) and
// "/"-separated.
namespace extractor {

// Short, so the temporary name fits wherever the entry's own name does,
// however long that is. The process id follows it, so that a later run can
// tell the leftover of a killed extractor from the file of a running one.
inline constexpr std::string_view kPartialName = ".glimmer-extract-partial";

// Where a file entry is written until all its data arrived: a name in the
// entry's own folder (so the final rename never crosses file systems) that
// nothing uses yet (so removing it after a failure cannot take anything but
// our own).
struct PartialFile {
  std::string folder;  // relative, "/"-separated, empty for the destination
  std::string name;    // within the folder
  std::string target;  // the entry's own name within the folder
  std::string Path() const { return folder.empty() ? name : folder + "/" + name; }
};

long ThisProcessId();
// Whether no process runs under `pid` any more; one of another user runs.
bool ProcessIsGone(long pid);
// kPartialName with this run's process id.
std::string PartialNameOfThisRun();
// True when `name` is the unfinished file of an extractor that is gone: one
// killed, or stopped with its parent, before it could remove it.
bool IsDeadRunsPartial(std::string_view name);

PartialFile PartialBeside(const std::string& entryPath);
// Gives the finished partial file its own name; an error says why not.
std::error_code MovePartialIntoPlace(const PartialFile& partial);
void RemovePartial(const PartialFile& partial);
// Removes a file this run wrote, given by its path below the destination.
void RemoveWritten(const std::string& path);
// Removes, below the working directory, what killed extractors left.
void ClearDeadRunsPartials();

// Whether a stop was asked for (a signal, Ctrl+C): the copy ends and removes
// its unfinished file.
bool StopRequested();

}  // namespace extractor
