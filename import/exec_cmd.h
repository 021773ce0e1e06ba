#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/process_launcher.h"
#include "platform/status.h"

namespace importer {

// Answers whether a path names an existing file (not a folder).
using FileExists = std::function<bool(const std::string&)>;

// The real file system's answer.
bool FileExistsOnDisk(const std::string& path);

// Splits a command line the way Windows starts it: the first token names the
// program, the rest are its arguments.
//
// Program: a quoted path runs up to its closing quote. An unquoted path may
// hold blanks: the prefixes ending at each blank are tried from the shortest
// on, then the whole line, and the first that names an existing file is the
// program (so "C:\Program Files\WinRAR\WinRAR.exe X" finds WinRAR.exe unless
// a file "C:\Program" exists). When none exists the first word is taken, and
// starting it reports the missing program.
//
// Arguments: split at blanks outside double quotes; the quotes themselves are
// dropped and "" gives an empty argument. Backslashes are plain characters:
// the archiver reads its destination "C:\App\Temp\" as one argument ending
// in a backslash, and so must we.
//
// An empty or blank command line gives an empty vector.
std::vector<std::string> SplitCommandLine(const std::string& commandLine,
                                          const FileExists& exists = FileExistsOnDisk);

// Runs one command line and waits for it. Returns the program's exit code,
// or an error saying why it could not be run. With `keepWaiting`, the
// program is ended as soon as that answers false (ProcessLauncher).
platform::Result<int> ExecCmd(const std::string& commandLine, platform::ProcessLauncher& launcher,
                              const platform::KeepWaiting& keepWaiting = nullptr,
                              const FileExists& exists = FileExistsOnDisk);

}  // namespace importer
