// How long an import takes and how much memory it needs, against pugixml
// loading the same document. Each measurement runs in a fresh process (this
// program started again with --measure) so peak memory belongs to that one
// measurement alone.
//
// Targets: import <= 3 x pugixml load; peak memory <= 5 x document size;
// time growing linearly with the document.
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <pugixml.hpp>
#include <random>
#include <string>
#include <vector>

#include "import/compile_sequence.h"
#include "import/fade_timing.h"
#include "platform/posix/posix_file_store.h"

namespace {

namespace fs = std::filesystem;

constexpr int kControllers = 10;
constexpr int kChannels = 16;
constexpr int kRuns = 5;

long PeakKilobytes() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

// A sequence as Spectrum writes it: indented, one element per line. Many
// channels share commands at the same moments (chases, full-stage flashes),
// which is what the bitmask step exists for.
void WriteDocument(const std::string& path, int intervals, const std::string& audio) {
  std::mt19937 random(42);
  std::ofstream out(path, std::ios::binary);
  out << "<?xml version=\"1.0\" encoding=\"windows-1252\"?>\n<Sequence>\n  <AudioFile>\n"
         "    <Title>Caf\xE9 Medley</Title>\n    <Artist>Benchmark</Artist>\n"
      << "    <FilePath>" << audio << "</FilePath>\n  </AudioFile>\n  <Controllers>\n";
  const int perChannel = intervals / (kControllers * kChannels);
  for (int c = 1; c <= kControllers; ++c) {
    out << "    <Controller>\n      <ControllerID>" << c << "</ControllerID>\n      <Channels>\n";
    for (int ch = 1; ch <= kChannels; ++ch) {
      out << "        <Channel>\n          <ChannelNumber>" << ch
          << "</ChannelNumber>\n          <TimeIntervals>\n";
      std::mt19937 shared(static_cast<unsigned>(c));  // same pattern on every channel
      for (int i = 0; i < perChannel; ++i) {
        std::mt19937& r = (ch % 4 == 0) ? random : shared;
        const int effect = 1 + static_cast<int>(r() % 7);
        // Whole sample positions, with now and then a fraction as some
        // exports write them.
        const long whole = i * 22050L + static_cast<long>(r() % 1000);
        const std::string position =
            std::to_string(whole) + (i % 10 == 0 ? std::string(".5") : std::string());
        out << "            <TimeInterval>\n"
            << "              <PositionInSamples>" << position << "</PositionInSamples>\n"
            << "              <Effect>" << effect << "</Effect>\n"
            << "              <IntensityIn>" << r() % 256 << "</IntensityIn>\n"
            << "              <IntensityOut>" << r() % 256 << "</IntensityOut>\n"
            << "            </TimeInterval>\n";
      }
      out << "          </TimeIntervals>\n        </Channel>\n";
    }
    out << "      </Channels>\n    </Controller>\n";
  }
  out << "  </Controllers>\n</Sequence>\n";
}

class SilentWindow final : public importer::CompileWindow {
 public:
  void SetStatus(const std::string&) override {}
  bool PerformBitmask() const override { return true; }
};

class SilentUi final : public platform::UserInterface {
 public:
  void ShowMessage(const std::string& text) override {
    std::fprintf(stderr, "message: %s\n", text.c_str());
  }
  std::optional<std::string> ShowOpenDialog(const std::string&, const std::string&,
                                            const std::string&, const std::string&) override {
    return std::nullopt;
  }
  void DoEvents() override {}
  void SetHourglass(bool) override {}
};

// Child side: one measurement, printed as "seconds baselineKB peakKB".
int Measure(const std::string& what, const std::string& document, const std::string& cache) {
  const long baseline = PeakKilobytes();
  const auto start = std::chrono::steady_clock::now();
  if (what == "load") {
    pugi::xml_document doc;
    if (!doc.load_file(document.c_str())) return 1;
  } else {
    SilentWindow window;
    SilentUi ui;
    platform::PosixFileStore files;
    const importer::FadeTimingTable fadeTimings = importer::FillFadeTimingTable();
    std::string audio, title;
    importer::CompileSequence(document, cache, audio, title,
                              importer::CompileServices{window, ui, files, fadeTimings, ""});
    if (audio.empty()) return 1;
  }
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("%.6f %ld %ld\n", seconds, baseline, PeakKilobytes());
  return 0;
}

struct Figures {
  double seconds = 1e30;  // best of the runs
  long netKilobytes = 0;  // peak above the process's own start-up
};

std::string SelfPath() {
  char buffer[PATH_MAX];
  const ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  return n > 0 ? std::string(buffer, static_cast<std::size_t>(n)) : "bench_import_speed";
}

// One more run of a measurement, folded into its figures.
void RunOnce(Figures& f, const std::string& what, const std::string& document,
             const std::string& cache) {
  const std::string command =
      "'" + SelfPath() + "' --measure " + what + " '" + document + "' '" + cache + "'";
  FILE* pipe = popen(command.c_str(), "r");
  double seconds = 0;
  long baseline = 0, peak = 0;
  const bool read = pipe && std::fscanf(pipe, "%lf %ld %ld", &seconds, &baseline, &peak) == 3;
  if (pipe) pclose(pipe);
  if (!read) {
    std::fprintf(stderr, "measurement '%s' of %s failed\n", what.c_str(), document.c_str());
    std::exit(1);
  }
  f.seconds = std::min(f.seconds, seconds);
  f.netKilobytes = std::max(f.netKilobytes, peak - baseline);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 5 && std::string(argv[1]) == "--measure") return Measure(argv[2], argv[3], argv[4]);
  // For profiling: bench_import_speed --write N DOCUMENT AUDIO, then
  // bench_import_speed --measure import DOCUMENT CACHE under a profiler.
  if (argc == 5 && std::string(argv[1]) == "--write") {
    WriteDocument(argv[3], std::atoi(argv[2]), argv[4]);
    return 0;
  }
  const int intervals = argc > 1 ? std::atoi(argv[1]) : 200000;

  const fs::path dir = fs::temp_directory_path() / ("glimmer-bench-" + std::to_string(getpid()));
  fs::create_directories(dir);
  const std::string audio = (dir / "song.wav").string();
  std::ofstream(audio) << "RIFF";
  const std::string big = (dir / "Big").string();
  const std::string small = (dir / "Small").string();
  WriteDocument(big, intervals, audio);
  WriteDocument(small, intervals / 10, audio);
  const double bigMb = static_cast<double>(fs::file_size(big)) / 1e6;
  const double smallMb = static_cast<double>(fs::file_size(small)) / 1e6;

  // Interleaved, so a busy moment of the machine hurts every figure alike;
  // the best run of each counts.
  Figures load, import, smallImport;
  for (int run = 0; run < kRuns; ++run) {
    RunOnce(load, "load", big, (dir / "unused.csq").string());
    RunOnce(import, "import", big, (dir / "Big.csq").string());
    RunOnce(smallImport, "import", small, (dir / "Small.csq").string());
  }
  const double docKb = bigMb * 1e6 / 1024.0;

  std::printf("document: %d time intervals, %d controllers x %d channels, %.1f MB\n", intervals,
              kControllers, kChannels, bigMb);
  std::printf("pugixml load_file alone:   %8.1f ms   peak +%6.1f MB (%.2f x document)\n",
              load.seconds * 1e3, static_cast<double>(load.netKilobytes) / 1024.0,
              static_cast<double>(load.netKilobytes) / docKb);
  std::printf("import (bitmask on):       %8.1f ms   peak +%6.1f MB (%.2f x document)\n",
              import.seconds * 1e3, static_cast<double>(import.netKilobytes) / 1024.0,
              static_cast<double>(import.netKilobytes) / docKb);
  std::printf("import / pugixml load:     %8.2f x   (target <= 3)\n",
              import.seconds / load.seconds);
  std::printf(
      "import of %d intervals (%.1f MB): %.1f ms; %.1f x faster for 10 x less (linear: 10)\n",
      intervals / 10, smallMb, smallImport.seconds * 1e3, import.seconds / smallImport.seconds);
  std::printf("best of %d runs each, every run in a fresh process\n", kRuns);

  std::error_code ec;
  fs::remove_all(dir, ec);
  return 0;
}
