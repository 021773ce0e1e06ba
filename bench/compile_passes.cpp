// How long the compiler's second half takes on a large sequence: fade
// timings, redundant removal, the bitmask merge, the playback sort and the
// file. Prints the time of each run with and without the merge.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <random>
#include <string>

#include "import/compile_window.h"
#include "import/compiler_passes.h"
#include "platform/posix/posix_file_store.h"
#include "platform/user_interface.h"
#include "sequence_format/event_table.h"
#include "sequence_format/fade_timing.h"

namespace {

class QuietWindow : public importer::CompileWindow {
 public:
  explicit QuietWindow(bool bitmask) : bitmask_(bitmask) {}
  void SetStatus(const std::string&) override { ++statuses; }
  bool PerformBitmask() const override { return bitmask_; }
  int statuses = 0;

 private:
  bool bitmask_;
};

class QuietUi : public platform::UserInterface {
 public:
  void ShowMessage(const std::string&) override {}
  std::optional<std::string> ShowOpenDialog(const std::string&, const std::string&,
                                            const std::string&, const std::string&) override {
    return std::nullopt;
  }
  void DoEvents() override {}
  void SetHourglass(bool) override {}
};

// Rows as the reader adds them: controller by controller, channel by channel,
// every channel changing every twentieth of a second, a third of them
// repeating the channel's previous command.
sequence_format::EventTable MakeSequence(int rows) {
  std::mt19937 random(7);
  sequence_format::EventTable table;
  const int perChannel = rows / 64;
  for (int device = 1; device <= 4; ++device) {
    for (int channel = 1; channel <= 16; ++channel) {
      for (int i = 0; i < perChannel; ++i) {
        const bool fade = random() % 3 == 0;
        const bool repeat = random() % 3 == 0;
        table.AddRow();
        table.Set(sequence_format::Column::SampleNumber, i * 4410);
        table.Set(sequence_format::Column::Device, device);
        table.Set(sequence_format::Column::Channel, 1 << ((channel - 1) % 8));
        table.Set(sequence_format::Column::Command, (fade ? 34 : 33) - (channel > 8 ? 10 : 0));
        table.Set(sequence_format::Column::StartIntensity, repeat ? 255 : (i % 2) * 255);
        table.Set(sequence_format::Column::EndIntensity, repeat ? 255 : (i % 4 < 2 ? 0 : 255));
      }
    }
  }
  return table;
}

}  // namespace

int main(int argc, char** argv) {
  const int rows = argc > 1 ? std::max(64, std::atoi(argv[1])) : 1000000;
  const auto dir = std::filesystem::temp_directory_path() /
                   ("glimmer-bench-" + std::to_string(std::random_device()()));
  std::filesystem::create_directories(dir);
  const std::string path = (dir / "Bench.csq").string();
  platform::PosixFileStore files;
  QuietUi ui;
  const sequence_format::FadeTimingTable& fadeTimings = sequence_format::kFadeTimingTable;

  std::printf("rows: %d\n", rows);
  for (const bool bitmask : {false, true}) {
    sequence_format::EventTable table = MakeSequence(rows);
    QuietWindow window(bitmask);
    const auto start = std::chrono::steady_clock::now();
    const auto done = importer::FinishCompile(table, fadeTimings, path, window, ui, files);
    const double ms =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    if (!done.ok()) {
      std::fprintf(stderr, "compile failed: %s\n", done.message().c_str());
      return 1;
    }
    std::printf("second half, bitmask %-3s: %7.1f ms, %zu rows kept, file %.1f MB\n",
                bitmask ? "on" : "off", ms, table.RowCount(),
                static_cast<double>(std::filesystem::file_size(path)) / 1e6);
  }
  std::filesystem::remove_all(dir);
  return 0;
}
