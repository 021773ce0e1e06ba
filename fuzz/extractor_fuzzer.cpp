// The extractor on any archive: whatever it holds, nothing is written
// outside the destination, no link is created, no partial file is left, and
// the working directory comes back.
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <string_view>

#include "fuzz/fuzz_support.h"
#include "tools/extractor/extract.h"

namespace fs = std::filesystem;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const fs::path sandbox = fuzz::ScratchFolder() / "sandbox";
  const fs::path destination = sandbox / "Temp";
  std::error_code ec;
  fs::remove_all(sandbox, ec);
  fs::create_directories(sandbox);
  const std::string archive = fuzz::InputFile("archive.msq", data, size);
  const fs::path before = fs::current_path();

  std::ostringstream log;
  (void)extractor::ExtractArchive(archive, destination.string(), log);

  if (fs::current_path() != before) std::abort();
  for (const auto& e : fs::directory_iterator(sandbox)) {
    if (e.path() != destination) std::abort();  // written beside the destination
  }
  // An archive may name a file like our temporary ones itself (an mtree
  // listing did): only a name the input does not hold counts as left behind.
  const bool namesPartial =
      std::string_view(reinterpret_cast<const char*>(data), size).find("glimmer-extract-partial") !=
      std::string_view::npos;
  if (fs::exists(destination)) {
    for (auto it = fs::recursive_directory_iterator(destination, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
      if (it->is_symlink()) std::abort();
      if (!namesPartial && it->path().filename().string().starts_with(".glimmer-extract-partial")) {
        std::abort();
      }
    }
  }
  fs::remove_all(sandbox, ec);
  return 0;
}
