#include "import/exec_cmd.h"
#include "platform/utf8_path.h"

#include <filesystem>
#include <system_error>

namespace importer {
namespace {

bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}

// Splits the program's name off the front of `line` (leading blanks already
// skipped) and returns the position where the arguments start.
std::size_t SplitProgram(const std::string& line, std::size_t start, const FileExists& exists,
                         std::string& program) {
  if (line[start] == '"') {
    const std::size_t close = line.find('"', start + 1);
    if (close == std::string::npos) {
      program = line.substr(start + 1);
      return line.size();
    }
    program = line.substr(start + 1, close - start - 1);
    return close + 1;
  }

  std::size_t firstBlank = std::string::npos;
  for (std::size_t i = start; i <= line.size(); ++i) {
    if (i < line.size() && !IsBlank(line[i])) continue;
    if (firstBlank == std::string::npos) firstBlank = i;
    const std::string candidate = line.substr(start, i - start);
    if (exists(candidate)) {
      program = candidate;
      return i;
    }
  }
  program = line.substr(start, firstBlank - start);
  return firstBlank;
}

}  // namespace

bool FileExistsOnDisk(const std::string& path) {
  std::error_code ec;
  return std::filesystem::is_regular_file(platform::FilePath(path), ec);
}

std::vector<std::string> SplitCommandLine(const std::string& commandLine,
                                          const FileExists& exists) {
  std::vector<std::string> argv;
  std::size_t pos = 0;
  while (pos < commandLine.size() && IsBlank(commandLine[pos])) ++pos;
  if (pos == commandLine.size()) return argv;

  std::string program;
  pos = SplitProgram(commandLine, pos, exists, program);
  argv.push_back(std::move(program));

  std::string current;
  bool inToken = false;
  bool inQuotes = false;
  for (; pos < commandLine.size(); ++pos) {
    const char c = commandLine[pos];
    if (c == '"') {
      inQuotes = !inQuotes;
      inToken = true;
    } else if (IsBlank(c) && !inQuotes) {
      if (inToken) argv.push_back(std::move(current));
      current.clear();
      inToken = false;
    } else {
      current += c;
      inToken = true;
    }
  }
  if (inToken) argv.push_back(std::move(current));
  return argv;
}

platform::Result<int> ExecCmd(const std::string& commandLine, platform::ProcessLauncher& launcher,
                              const platform::KeepWaiting& keepWaiting, const FileExists& exists) {
  const std::vector<std::string> argv = SplitCommandLine(commandLine, exists);
  if (argv.empty() || argv.front().empty()) {
    return platform::Result<int>::Error("Cannot run the command line \"" + commandLine +
                                        "\": it names no program.");
  }
  return launcher.RunWatched(argv, keepWaiting);
}

}  // namespace importer
