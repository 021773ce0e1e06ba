// The extractor on any archive: whatever it holds, nothing is written
// outside the destination, no link is created, no partial file is left, the
// working directory comes back, no more than the size cap stays on disk (a
// bomb is a finding, not a slow run), and no name reaches the report
// unescaped.
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

  // Small limits: a bomb that gets past them shows as files over the cap.
  const extractor::Limits limits{.documentBytes = 2 << 20,
                                 .documentName = "archive",
                                 .entryBytes = 1 << 20,
                                 .archiveBytes = 4 << 20};
  std::ostringstream log;
  const auto result = extractor::ExtractArchive(archive, destination.string(), log, limits);
  // Escaped names: one line per report line, no control byte, no terminal
  // escape.
  const std::string said = log.str() + (result.ok() ? "" : result.message());
  for (const char c : said) {
    if ((static_cast<unsigned char>(c) < 0x20 && c != '\n') || c == '\x7F') std::abort();
  }

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
    std::uintmax_t total = 0;
    for (auto it = fs::recursive_directory_iterator(destination, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
      if (it->is_symlink()) std::abort();
      std::error_code sizeError;
      if (it->is_regular_file(sizeError)) total += it->file_size(sizeError);
      if (total > limits.archiveBytes) std::abort();  // past the cap
      if (!namesPartial && it->path().filename().string().starts_with(".glimmer-extract-partial")) {
        std::abort();
      }
    }
  }
  fs::remove_all(sandbox, ec);
  return 0;
}
