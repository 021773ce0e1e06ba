#pragma once

#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "platform/file_store.h"
#include "tests/fakes/fake_file_store.h"
#include "tests/fakes/fake_user_interface.h"

// What the fuzz targets share: a scratch folder of their own, input written
// to a file for the readers that take a path, and a file store in memory.
namespace fuzz {

// A folder for this process, in memory where the machine has /dev/shm, so
// writing every input to a file costs little. Removed at exit.
inline const std::filesystem::path& ScratchFolder() {
  static const std::filesystem::path folder = [] {
    std::filesystem::path base = std::filesystem::temp_directory_path();
    std::error_code ec;
    if (std::filesystem::is_directory("/dev/shm", ec)) base = "/dev/shm";
    auto path = base / ("glimmer-fuzz-" + std::to_string(::getpid()));
    std::filesystem::create_directories(path);
    std::atexit([] {
      std::error_code ignored;
      std::filesystem::remove_all(ScratchFolder(), ignored);
    });
    return path;
  }();
  return folder;
}

// Writes the input to `name` in the scratch folder and returns its path.
inline std::string InputFile(const std::string& name, const std::uint8_t* data, std::size_t size) {
  const std::string path = (ScratchFolder() / name).string();
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  return path;
}

// The tests' file store, kept in memory only.
inline fakes::FakeFileStore MemoryFileStore() {
  fakes::FakeFileStore files;
  files.onDisk = false;
  return files;
}

}  // namespace fuzz
