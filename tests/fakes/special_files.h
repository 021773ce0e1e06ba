#pragma once

#include <sys/stat.h>

#include <filesystem>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

namespace fakes {

// What stands where a file is expected, and the one wording every reader
// refuses it with: a folder, a pipe (which would wait for a writer) and a
// device that never ends.
struct SpecialFile {
  const char* name;
  std::function<void(const std::string& path)> make;
  const char* reason;
};

inline std::vector<SpecialFile> SpecialFiles() {
  return {{"folder", [](const std::string& path) { std::filesystem::create_directory(path); },
           "it is a folder, not a file"},
          {"pipe",
           [](const std::string& path) {
             if (mkfifo(path.c_str(), 0600) != 0) throw std::runtime_error("mkfifo " + path);
           },
           "it is a pipe, not a file"},
          {"device",
           [](const std::string& path) { std::filesystem::create_symlink("/dev/zero", path); },
           "it is a device, not a file"}};
}

}  // namespace fakes
