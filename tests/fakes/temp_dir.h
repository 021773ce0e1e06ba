#pragma once

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>
#include <string>
#include <string_view>
#include <system_error>

namespace fakes {

// A fresh folder under the system's temporary folder, removed with all its
// content when the object goes.
class TempDir {
 public:
  TempDir() {
#ifdef _WIN32
    // No mkdtemp: a random name, taken only if no one else has it.
    std::random_device random;
    for (int attempt = 0; path_.empty(); ++attempt) {
      std::filesystem::path name =
          std::filesystem::temp_directory_path() / ("glimmer-test-" + std::to_string(random()));
      if (std::filesystem::create_directory(name)) path_ = name;
      if (attempt > 100) throw std::runtime_error("cannot create " + name.string());
    }
#else
    std::string name = (std::filesystem::temp_directory_path() / "glimmer-test-XXXXXX").string();
    if (mkdtemp(name.data()) == nullptr) throw std::runtime_error("cannot create " + name);
    path_ = name;
    // As an ordinary folder, not mkdtemp's 0700: a child that gave up root still enters it.
    std::filesystem::permissions(path_, std::filesystem::perms(0755));
#endif
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& path() const {
    return path_;
  }
  std::string File(std::string_view name) const {
    return (path_ / name).string();
  }

 private:
  std::filesystem::path path_;
};

inline void WriteBytes(const std::string& path, std::string_view bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

inline std::string ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

}  // namespace fakes
