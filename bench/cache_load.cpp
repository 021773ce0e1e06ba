// How long the player waits for a compiled sequence to load, against a plain
// read of the same file's bytes from the page cache (open, size, a fresh
// buffer, read, close). Both are run in turn, again and again, so a busy
// moment of the machine hurts both alike; the best of each counts.
//
// Target: loading a 1,000,000-row file for playing within 2 x the plain read;
// the player keeps the rows it was given and copies them no more.
//
// Usage: bench_cache_load [ROWS]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "platform/posix/posix_file_store.h"
#include "sequence_format/event_table.h"
#include "sequence_format/sequence_cache.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kRuns = 31;
constexpr double kTarget = 2.0;

double MillisecondsSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// What reading the file costs at the least.
std::size_t PlainRead(const std::string& path) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return 0;
  std::setvbuf(file, nullptr, _IONBF, 0);
  std::fseek(file, 0, SEEK_END);
  const long size = std::ftell(file);
  std::fseek(file, 0, SEEK_SET);
  auto bytes = std::make_unique_for_overwrite<char[]>(static_cast<std::size_t>(size));
  const std::size_t read = std::fread(bytes.get(), 1, static_cast<std::size_t>(size), file);
  std::fclose(file);
  return read;
}

}  // namespace

int main(int argc, char** argv) {
  const int rows = argc > 1 ? std::max(1, std::atoi(argv[1])) : 1000000;

  // Rows shaped like a real import: 16 channels of 8 controllers, a fade
  // every few hundredths of a second, some rows with null intervals.
  std::mt19937 random(42);
  std::vector<sequence_format::EventTable::Record> records(static_cast<std::size_t>(rows));
  for (int i = 0; i < rows; ++i) {
    const int channel = i % 16;
    sequence_format::EventTable::Record& r = records[static_cast<std::size_t>(i)];
    r.values = {static_cast<std::int32_t>(i / 128) * 2205,
                1 + (i / 16) % 8,
                1 << (channel % 8),
                channel < 8 ? 34 : 24,
                static_cast<std::int32_t>(random() % 256),
                static_cast<std::int32_t>(random() % 256),
                128,
                static_cast<std::int32_t>(20 + random() % 230)};
    if (i % 5 == 0) {
      r.values[6] = r.values[7] = 0;
      r.nullMask = 0xC0;
    }
  }
  sequence_format::EventTable table = sequence_format::EventTable::FromRecords(std::move(records));

  auto start = Clock::now();
  if (!table.Sort("SampleNumber asc, Device asc, Channel asc").ok()) return 1;
  const double sortMs = MillisecondsSince(start);

  const auto dir = std::filesystem::temp_directory_path() /
                   ("glimmer-bench-" + std::to_string(std::random_device()()));
  std::filesystem::create_directories(dir);
  const std::string path = (dir / "Bench.csq").string();
  platform::PosixFileStore files;
  start = Clock::now();
  if (const auto saved = sequence_format::SaveSequenceCache(table, path, files); !saved.ok()) {
    std::fprintf(stderr, "save failed: %s\n", saved.message().c_str());
    return 1;
  }
  const double saveMs = MillisecondsSince(start);
  const auto fileSize = std::filesystem::file_size(path);

  double plainMs = 1e30, playMs = 1e30, tableMs = 1e30;
  for (int i = 0; i < kRuns; ++i) {
    start = Clock::now();
    const std::size_t read = PlainRead(path);
    plainMs = std::min(plainMs, MillisecondsSince(start));
    if (read != fileSize) return 1;

    start = Clock::now();
    {
      auto loaded = sequence_format::LoadSequenceRows(path);
      if (!loaded.ok() || loaded.value().size() != static_cast<std::size_t>(rows)) {
        std::fprintf(stderr, "load failed: %s\n", loaded.message().c_str());
        return 1;
      }
    }
    playMs = std::min(playMs, MillisecondsSince(start));

    start = Clock::now();
    {
      auto loaded = sequence_format::LoadSequenceCache(path);
      if (!loaded.ok()) return 1;
    }
    tableMs = std::min(tableMs, MillisecondsSince(start));
  }

  std::printf("rows:                          %d\n", rows);
  std::printf("file size:                     %.1f MB (%ju bytes)\n",
              static_cast<double>(fileSize) / 1e6, static_cast<std::uintmax_t>(fileSize));
  std::printf("sort, playback order:          %.1f ms\n", sortMs);
  std::printf("save (with fsync):             %.1f ms\n", saveMs);
  std::printf("plain read of the bytes:       %.1f ms\n", plainMs);
  std::printf("load for playing (rows):       %.1f ms = %.2f x the plain read (target <= %.1f)\n",
              playMs, playMs / plainMs, kTarget);
  std::printf("load as a table (glimmer dump): %.1f ms = %.2f x the plain read\n", tableMs,
              tableMs / plainMs);
  std::printf("best of %d runs each, taken in turn, in one process\n", kRuns);
  std::filesystem::remove_all(dir);
  return 0;
}
