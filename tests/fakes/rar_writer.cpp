#include "tests/fakes/rar_writer.h"

#include <fstream>
#include <stdexcept>

namespace fakes {

RarEntry RarSymlink(std::string name, std::string target) {
  return RarEntry{std::move(name), std::move(target), false, 3, 0120777};
}

void WriteRar4(const std::string& path, const std::vector<RarEntry>& entries) {
  const std::string bytes = MakeRar4(entries);
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!file) throw std::runtime_error("cannot write " + path);
}

}  // namespace fakes
