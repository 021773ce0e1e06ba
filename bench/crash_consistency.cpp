// Kills a process that keeps rewriting preferences.txt, playlist.txt and a
// compiled sequence, at random moments, and checks after each kill that every
// file holds its complete old or complete new content. For comparison the
// same run is made with plain writes (truncate, then write in place), which
// is what the check exists to catch.
//
//   bench_crash_consistency [kills, default 800] [seed]
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>

#include "platform/posix/posix_file_store.h"
#include "tests/files/crash_rig.h"

namespace {

// Truncates the file, then writes it, the way a program without atomic
// replacement would.
class PlainStore : public platform::FileStore {
 public:
  platform::Status ReplaceFile(const std::string& path, std::string_view bytes) override {
    FILE* out = std::fopen(path.c_str(), "wb");
    if (out == nullptr) return platform::Status::Error("cannot write " + path);
    std::fwrite(bytes.data(), 1, bytes.size(), out);
    std::fclose(out);
    return platform::Status::Ok();
  }
};

void Print(const char* name, const crash_rig::Figures& f) {
  std::printf("%s: %d kills\n", name, f.kills);
  std::printf("  %-16s %12s %10s %10s %6s\n", "file", "kills during", "left old", "left new",
              "torn");
  for (int i = 0; i < crash_rig::kFiles; ++i) {
    std::printf("  %-16s %12d %10d %10d %6d\n", crash_rig::kFileNames[i], f.killsDuring[i],
                f.foundOld[i], f.foundNew[i], f.torn[i]);
  }
  std::printf("  kills between writes: %d\n",
              f.kills - f.killsDuring[0] - f.killsDuring[1] - f.killsDuring[2]);
  std::printf("  temporary files: at most %d after a kill, %d once every file was saved again\n",
              f.mostLeftovers, f.leftoverFiles);
  for (std::size_t i = 0; i < f.faults.size() && i < 5; ++i) {
    std::printf("  e.g. %s\n", f.faults[i].c_str());
  }
}

}  // namespace

int main(int argc, char** argv) {
  const int kills = argc > 1 ? std::max(1, std::atoi(argv[1])) : 800;
  const std::uint32_t seed = argc > 2
                                 ? static_cast<std::uint32_t>(std::strtoul(argv[2], nullptr, 10))
                                 : std::random_device()();
  std::printf("seed %u\n", seed);

  const auto base = std::filesystem::temp_directory_path() /
                    ("glimmer-crash-" + std::to_string(std::random_device()()));
  platform::PosixFileStore atomic;
  PlainStore plain;
  const auto atomicFigures = crash_rig::Run(base / "atomic", atomic, kills, seed);
  const auto plainFigures = crash_rig::Run(base / "plain", plain, kills / 4, seed);
  std::filesystem::remove_all(base);

  Print("program's file store", atomicFigures);
  Print("plain writes, for comparison", plainFigures);
  return atomicFigures.faults.empty() ? 0 : 1;
}
