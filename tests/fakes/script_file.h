#pragma once

#include <filesystem>
#include <string>

#include "tests/fakes/temp_dir.h"

namespace fakes {

// Writes an executable shell script; tests use it as a program whose exit
// code and view of its arguments they choose.
inline void WriteScript(const std::string& path, const std::string& body) {
  WriteBytes(path, "#!/bin/sh\n" + body + "\n");
  std::filesystem::permissions(path, std::filesystem::perms(0750));
}

// A script that writes each argument after the first, in brackets, one per
// line, to the file named by its first argument, then exits with `exitCode`.
inline void WriteArgumentReporter(const std::string& path, int exitCode) {
  WriteScript(path,
              "out=\"$1\"; shift\nfor a in \"$@\"; do printf '[%s]\\n' \"$a\"; done > "
              "\"$out\"\nexit " +
                  std::to_string(exitCode));
}

}  // namespace fakes
