// The Windows command-line splitter on any line; and any archive and
// destination the import lets through come out of the archiver's command
// line exactly as they went in.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "import/exec_cmd.h"
#include "import/import_driver.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  // Which prefixes "exist" depends on the input, so every way of finding the
  // program is taken.
  const auto exists = [&](const std::string& path) {
    return !path.empty() && (path.size() + input.size()) % 3 == 0;
  };
  (void)importer::SplitCommandLine(input, exists);

  const std::string program = "/opt/glimmer field/glimmer-extract";
  const std::size_t cut = input.find('\0');
  const std::string archive = input.substr(0, cut);
  const std::string destination = cut == std::string::npos ? "" : input.substr(cut + 1);
  if (!importer::CheckArchiverPaths(archive, destination).ok()) return 0;
  const std::vector<std::string> argv =
      importer::SplitCommandLine(importer::ArchiverCommandLine(program, archive, destination),
                                 [&](const std::string& path) { return path == program; });
  if (argv != std::vector<std::string>{program, "X", "-o+", archive, destination}) std::abort();
  return 0;
}
