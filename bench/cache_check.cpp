// What the check before a night costs for a very large compiled sequence:
// the time to check it and the most memory the process held meanwhile,
// against the file's size. The check reads the file through one buffer and
// keeps none of it; loading it whole took twice the file's size.
//
// And what the check holds up of the show's own thread: a loop with a yield
// point every millisecond, as the show's dispatch has, runs while the check
// reads, in turn with the check on that thread (as it was) and on the
// watch's worker (as it is). The longest gap between two yield points is how
// long the lights and the watchdog's pings waited.
//
// The file is written here as the writer would, row by row, without a table
// in memory: a valid header, MB megabytes of rows in playback order, the
// checksum.
//
// Usage: bench_cache_check [MB]   (default 2000)
#include <sys/resource.h>
#include <xxhash.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "platform/posix/posix_file_store.h"
#include "sequence_format/event_table.h"
#include "sequence_format/sequence_cache.h"
#include "watch/worker.h"

namespace {

constexpr std::size_t kRowSize = 33;
constexpr std::size_t kRowCountAt = 16;

double PeakMegabytes() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_maxrss) / 1024.0;
}

// The show's loop until `polled` says the check is told: a yield point every
// millisecond. The longest time between two of them, in milliseconds.
double LongestStall(const std::function<bool()>& polled) {
  using Clock = std::chrono::steady_clock;
  auto last = Clock::now();
  double longest = 0;
  for (bool over = false; !over;) {
    over = polled();
    const auto now = Clock::now();
    longest = std::max(longest, std::chrono::duration<double, std::milli>(now - last).count());
    last = now;
    if (!over) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return longest;
}

}  // namespace

int main(int argc, char** argv) {
  const long megabytes = argc > 1 ? std::max(1L, std::atol(argv[1])) : 2000;
  const auto rows = static_cast<std::uint64_t>(megabytes) * 1000000 / kRowSize;

  const auto dir = std::filesystem::temp_directory_path() /
                   ("glimmer-bench-" + std::to_string(std::random_device()()));
  std::filesystem::create_directories(dir);
  const std::string path = (dir / "Large.csq").string();

  // The writer's own header, from a one-row file, with the row count set.
  platform::PosixFileStore files;
  sequence_format::EventTable::Record one;
  one.values = {0, 1, 1, 33, 0, 255, 0, 0};
  one.nullMask = 0xC0;
  if (!sequence_format::SaveSequenceCache(sequence_format::EventTable::FromRecords({one}), path,
                                          files)
           .ok()) {
    return 1;
  }
  std::string small;
  {
    std::FILE* in = std::fopen(path.c_str(), "rb");
    char chunk[4096];
    std::size_t n = 0;
    while ((n = std::fread(chunk, 1, sizeof chunk, in)) > 0) small.append(chunk, n);
    std::fclose(in);
  }
  std::string header = small.substr(0, small.size() - kRowSize - 8);
  for (int i = 0; i < 8; ++i) header[kRowCountAt + i] = static_cast<char>(rows >> (8 * i));
  const std::string row = small.substr(header.size(), kRowSize);

  XXH64_state_t* hash = XXH64_createState();
  XXH64_reset(hash, 0);
  std::FILE* out = std::fopen(path.c_str(), "wb");
  std::fwrite(header.data(), 1, header.size(), out);
  XXH64_update(hash, header.data(), header.size());
  std::vector<char> block(kRowSize * 8192);
  for (std::uint64_t written = 0; written < rows;) {
    const std::uint64_t n = std::min<std::uint64_t>(rows - written, 8192);
    for (std::uint64_t i = 0; i < n; ++i) {
      char* at = block.data() + i * kRowSize;
      std::memcpy(at, row.data(), kRowSize);
      const auto sample = static_cast<std::uint32_t>((written + i) / 128 * 2205);
      for (int b = 0; b < 4; ++b) at[1 + b] = static_cast<char>(sample >> (8 * b));
    }
    std::fwrite(block.data(), 1, n * kRowSize, out);
    XXH64_update(hash, block.data(), n * kRowSize);
    written += n;
  }
  const std::uint64_t digest = XXH64_digest(hash);
  XXH64_freeState(hash);
  char sum[8];
  for (int i = 0; i < 8; ++i) sum[i] = static_cast<char>(digest >> (8 * i));
  std::fwrite(sum, 1, 8, out);
  std::fclose(out);

  const double before = PeakMegabytes();
  int questions = 0;
  const auto start = std::chrono::steady_clock::now();
  const platform::Status checked = sequence_format::CheckSequenceCache(path, [&] {
    ++questions;
    return true;
  });
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("file size:                 %.0f MB (%ju rows)\n",
              static_cast<double>(std::filesystem::file_size(path)) / 1e6,
              static_cast<std::uintmax_t>(rows));
  std::printf("check:                     %s\n", checked ? "sound" : checked.message().c_str());
  std::printf("check time:                %.2f s (%.0f MB/s)\n", seconds,
              static_cast<double>(megabytes) / seconds);
  std::printf("peak memory before/after:  %.1f MB / %.1f MB\n", before, PeakMegabytes());
  std::printf("keep-going questions:      %d (each one a watchdog ping)\n", questions);

  platform::Status onShowThread = platform::Status::Ok();
  const double heldWith = LongestStall([&] {
    onShowThread = sequence_format::CheckSequenceCache(path, [] { return true; });
    return true;
  });
  platform::Status onWorker = platform::Status::Ok();
  watch::ThreadWorker worker;
  const auto asideStart = std::chrono::steady_clock::now();
  worker.Start([&](const std::function<bool()>& keepGoing) {
    onWorker = sequence_format::CheckSequenceCache(path, keepGoing);
  });
  const double heldAside = LongestStall([&] { return !worker.Busy(); });
  const double asideSeconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - asideStart).count();
  std::printf("show thread's longest stall, with the check on it:   %.1f ms\n", heldWith);
  std::printf("show thread's longest stall, with it on the worker: %.1f ms (check %.2f s, %s)\n",
              heldAside, asideSeconds, onShowThread && onWorker ? "both sound" : "a check failed");

  // A stop while the worker reads: how long the show's end waits for it.
  worker.Start([&](const std::function<bool()>& keepGoing) {
    onWorker = sequence_format::CheckSequenceCache(path, keepGoing);
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  const auto stopAt = std::chrono::steady_clock::now();
  worker.Stop();
  std::printf(
      "a stop during the check waits:                      %.1f ms (%s)\n",
      std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - stopAt).count(),
      onWorker.message().c_str());
  std::filesystem::remove_all(dir);
  return checked && onShowThread && onWorker.message() == sequence_format::kLoadingStopped ? 0 : 1;
}
