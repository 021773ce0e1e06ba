#include "tests/fakes/fake_file_store.h"

#include <fstream>

namespace fakes {

platform::Status FakeFileStore::ReplaceFile(const std::string& path, std::string_view bytes) {
  if (!failWith.empty()) return platform::Status::Error(failWith);
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) return platform::Status::Error("cannot write " + path);
  written.push_back(path);
  return platform::Status::Ok();
}

}  // namespace fakes
