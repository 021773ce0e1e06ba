// How long the player waits for a large compiled sequence to load, and how
// large its file is. Target: a million rows well under 100 ms.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "import/event_table.h"
#include "import/sequence_cache.h"
#include "platform/posix/posix_file_store.h"

namespace {

using Clock = std::chrono::steady_clock;

double MillisecondsSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

}  // namespace

int main(int argc, char** argv) {
  const int rows = argc > 1 ? std::max(1, std::atoi(argv[1])) : 1000000;
  constexpr int kLoads = 7;

  // Rows shaped like a real import: 16 channels of 8 controllers, a fade
  // every few hundredths of a second, some rows with null intervals.
  std::mt19937 random(42);
  importer::EventTable table;
  for (int i = 0; i < rows; ++i) {
    const int channel = i % 16;
    table.AddRow();
    table.Set(importer::Column::SampleNumber, static_cast<std::int32_t>(i / 128) * 2205);
    table.Set(importer::Column::Device, 1 + (i / 16) % 8);
    table.Set(importer::Column::Channel, 1 << (channel % 8));
    table.Set(importer::Column::Command, channel < 8 ? 34 : 24);
    table.Set(importer::Column::StartIntensity, static_cast<std::int32_t>(random() % 256));
    table.Set(importer::Column::EndIntensity, static_cast<std::int32_t>(random() % 256));
    if (i % 5 != 0) {
      table.Set(importer::Column::ShortInterval, 128);
      table.Set(importer::Column::LongInterval, static_cast<std::int32_t>(20 + random() % 230));
    }
  }

  auto start = Clock::now();
  if (!table.Sort("SampleNumber asc, Device asc, Channel asc").ok()) return 1;
  const double sortMs = MillisecondsSince(start);

  const auto dir = std::filesystem::temp_directory_path() /
                   ("glimmer-bench-" + std::to_string(std::random_device()()));
  std::filesystem::create_directories(dir);
  const std::string path = (dir / "Bench.csq").string();
  platform::PosixFileStore files;
  start = Clock::now();
  if (const auto saved = importer::SaveSequenceCache(table, path, files); !saved.ok()) {
    std::fprintf(stderr, "save failed: %s\n", saved.message().c_str());
    return 1;
  }
  const double saveMs = MillisecondsSince(start);

  std::vector<double> loads;
  for (int i = 0; i < kLoads; ++i) {
    start = Clock::now();
    auto loaded = importer::LoadSequenceCache(path);
    loads.push_back(MillisecondsSince(start));
    if (!loaded.ok() || loaded.value().RowCount() != static_cast<std::size_t>(rows)) {
      std::fprintf(stderr, "load failed: %s\n", loaded.message().c_str());
      return 1;
    }
  }
  std::sort(loads.begin(), loads.end());

  std::printf("rows:               %d\n", rows);
  std::printf("file size:          %.1f MB (%ju bytes)\n",
              static_cast<double>(std::filesystem::file_size(path)) / 1e6,
              static_cast<std::uintmax_t>(std::filesystem::file_size(path)));
  std::printf("sort, playback:     %.1f ms\n", sortMs);
  std::printf("save (with fsync):  %.1f ms\n", saveMs);
  std::printf("load, %d runs:       best %.1f ms, median %.1f ms, worst %.1f ms\n", kLoads,
              loads.front(), loads[loads.size() / 2], loads.back());
  std::filesystem::remove_all(dir);
  return 0;
}
