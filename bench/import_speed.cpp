// What an operator waits for when a sequence is imported: the whole
// `glimmer compile --bitmask` command, started as a fresh process, against
// pugixml's bare load of the same document in a fresh process
// (bench_pugixml_load). Each is run five times, interleaved so a busy moment
// of the machine hurts both alike; the best time counts. Peak memory is the
// child's own maximum resident size (getrusage of the child), shown as a
// multiple of the document, in total and above what the same program holds
// when it starts and does nothing.
//
// Targets: import <= 2 x pugixml's load; peak memory <= 3 x the document;
// time and memory linear in the size, from 20,000 to 2,000,000 intervals.
//
// Usage: bench_import_speed [--sizes N,N,...] [--glimmer PATH]...
// Several --glimmer programs (an older build, say) are measured in the same
// run, side by side. `--write N DOCUMENT AUDIO` only writes a document.
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

extern char** environ;

namespace {

namespace fs = std::filesystem;

constexpr int kControllers = 8;
constexpr int kChannels = 16;
constexpr int kRuns = 5;
constexpr double kTimeTarget = 2.0;
constexpr double kMemoryTarget = 3.0;

// A sequence as Spectrum writes it: indented, one element per line, in the
// windows-1252 code page. Many channels share commands at the same moments
// (chases, full-stage flashes), which is what the bitmask step exists for.
void WriteDocument(const std::string& path, long intervals, const std::string& audio) {
  std::mt19937 random(42);
  std::ofstream out(path, std::ios::binary);
  out << "<?xml version=\"1.0\" encoding=\"windows-1252\"?>\n<Sequence>\n  <AudioFile>\n"
         "    <Title>Caf\xE9 Medley</Title>\n    <Artist>Benchmark</Artist>\n"
      << "    <FilePath>" << audio << "</FilePath>\n  </AudioFile>\n  <Controllers>\n";
  const long perChannel = intervals / (kControllers * kChannels);
  std::string block;
  for (int c = 1; c <= kControllers; ++c) {
    out << "    <Controller>\n      <ControllerID>" << c << "</ControllerID>\n      <Channels>\n";
    for (int ch = 1; ch <= kChannels; ++ch) {
      out << "        <Channel>\n          <ChannelNumber>" << ch
          << "</ChannelNumber>\n          <TimeIntervals>\n";
      std::mt19937 shared(static_cast<unsigned>(c));  // same pattern on every channel
      for (long i = 0; i < perChannel; ++i) {
        std::mt19937& r = (ch % 4 == 0) ? random : shared;
        const int effect = 1 + static_cast<int>(r() % 7);
        // Whole sample positions, with now and then a fraction as some
        // exports write them.
        const long whole = i * 2205L + static_cast<long>(r() % 1000);
        block.clear();
        block += "            <TimeInterval>\n              <PositionInSamples>";
        block += std::to_string(whole);
        if (i % 10 == 0) block += ".5";
        block += "</PositionInSamples>\n              <Effect>";
        block += std::to_string(effect);
        block += "</Effect>\n              <IntensityIn>";
        block += std::to_string(r() % 256);
        block += "</IntensityIn>\n              <IntensityOut>";
        block += std::to_string(r() % 256);
        block += "</IntensityOut>\n            </TimeInterval>\n";
        out << block;
      }
      out << "          </TimeIntervals>\n        </Channel>\n";
    }
    out << "      </Channels>\n    </Controller>\n";
  }
  out << "  </Controllers>\n</Sequence>\n";
}

struct Run {
  double seconds = 0;
  long peakKilobytes = 0;
  bool ok = false;
};

// Runs `args` as a fresh process, its output thrown away; wall time from
// start to end, peak memory from the kernel's account of the child.
Run Spawn(const std::vector<std::string>& args) {
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  Run run;
  const auto start = std::chrono::steady_clock::now();
  pid_t pid = 0;
  if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) {
    posix_spawn_file_actions_destroy(&actions);
    return run;
  }
  int status = 0;
  rusage usage{};
  while (wait4(pid, &status, 0, &usage) < 0) {
  }
  run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  posix_spawn_file_actions_destroy(&actions);
  run.peakKilobytes = usage.ru_maxrss;
  run.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  return run;
}

struct Figures {
  double seconds = 1e30;   // best of the runs
  long peakKilobytes = 0;  // highest of the runs
  void Add(const Run& run) {
    seconds = std::min(seconds, run.seconds);
    peakKilobytes = std::max(peakKilobytes, run.peakKilobytes);
  }
};

std::string BinDirectory() {
  char buffer[PATH_MAX];
  const ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  if (n <= 0) return ".";
  return fs::path(std::string(buffer, static_cast<std::size_t>(n))).parent_path().string();
}

std::vector<long> ParseSizes(const std::string& text) {
  std::vector<long> sizes;
  std::size_t at = 0;
  while (at < text.size()) {
    std::size_t comma = text.find(',', at);
    if (comma == std::string::npos) comma = text.size();
    sizes.push_back(std::atol(text.substr(at, comma - at).c_str()));
    at = comma + 1;
  }
  return sizes;
}

double Mb(long kilobytes) {
  return static_cast<double>(kilobytes) / 1024.0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 5 && std::string(argv[1]) == "--write") {
    WriteDocument(argv[3], std::atol(argv[2]), argv[4]);
    return 0;
  }
  std::vector<long> sizes = {20000, 200000, 2000000};
  std::vector<std::string> programs;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--sizes" && i + 1 < argc) {
      sizes = ParseSizes(argv[++i]);
    } else if (a == "--glimmer" && i + 1 < argc) {
      programs.push_back(fs::absolute(argv[++i]).string());
    } else {
      std::fprintf(stderr, "Usage: bench_import_speed [--sizes N,N,...] [--glimmer PATH]...\n");
      return 2;
    }
  }
  const std::string bin = BinDirectory();
  if (programs.empty()) programs.push_back(bin + "/glimmer");
  const std::string loader = bin + "/bench_pugixml_load";

  const fs::path dir = fs::temp_directory_path() / ("glimmer-bench-" + std::to_string(getpid()));
  fs::create_directories(dir);
  const std::string audio = (dir / "song.wav").string();
  std::ofstream(audio) << "RIFF";
  const std::string cache = (dir / "Show.csq").string();

  // What each program holds having started and done nothing.
  std::vector<long> idle(programs.size(), 0);
  long loaderIdle = 0;
  for (int run = 0; run < kRuns; ++run) {
    for (std::size_t p = 0; p < programs.size(); ++p) {
      const Run r = Spawn({programs[p], "compile", "--help"});
      idle[p] = std::max(idle[p], r.peakKilobytes);
    }
    loaderIdle = std::max(loaderIdle, Spawn({loader, "/dev/null"}).peakKilobytes);
  }

  std::printf(
      "%d controllers x %d channels; best time of %d fresh processes each, highest "
      "peak memory\n",
      kControllers, kChannels, kRuns);
  std::printf(
      "memory: the child's peak resident size / document size; in brackets the peak\n"
      "above the program's own start-up (%s: %.1f MB; pugixml loader: %.1f MB)\n\n",
      programs.size() == 1 ? "glimmer" : "each glimmer", Mb(idle[0]), Mb(loaderIdle));

  struct Row {
    long intervals;
    double documentMb;
    Figures load;
    std::vector<Figures> imports;
  };
  std::vector<Row> rows;
  bool failed = false;
  for (const long intervals : sizes) {
    const std::string document = (dir / "Show").string();
    WriteDocument(document, intervals, audio);
    Row row{intervals, static_cast<double>(fs::file_size(document)) / (1024.0 * 1024.0), {}, {}};
    row.imports.resize(programs.size());
    for (int run = 0; run < kRuns; ++run) {
      const Run load = Spawn({loader, document});
      failed |= !load.ok;
      row.load.Add(load);
      for (std::size_t p = 0; p < programs.size(); ++p) {
        const Run import = Spawn({programs[p], "compile", "--bitmask", document, cache});
        failed |= !import.ok;
        row.imports[p].Add(import);
      }
    }
    rows.push_back(row);

    std::printf("%ld intervals, document %.1f MB\n", intervals, row.documentMb);
    std::printf("  pugixml load_file        %8.1f ms  peak %7.1f MB = %5.2f x document\n",
                row.load.seconds * 1e3, Mb(row.load.peakKilobytes),
                Mb(row.load.peakKilobytes) / row.documentMb);
    for (std::size_t p = 0; p < programs.size(); ++p) {
      const Figures& f = row.imports[p];
      std::printf(
          "  glimmer compile --bitmask %8.1f ms  peak %7.1f MB = %5.2f x document "
          "(%5.2f x above start-up)   %5.2f x pugixml's time   [%s]\n",
          f.seconds * 1e3, Mb(f.peakKilobytes), Mb(f.peakKilobytes) / row.documentMb,
          Mb(f.peakKilobytes - idle[p]) / row.documentMb, f.seconds / row.load.seconds,
          programs[p].c_str());
    }
    std::fflush(stdout);
  }

  if (rows.size() > 1) {
    std::printf("\nlinearity: per 100,000 intervals, against the smallest size\n");
    for (std::size_t p = 0; p < programs.size(); ++p) {
      std::printf("  [%s]\n", programs[p].c_str());
      for (const Row& row : rows) {
        const double per = 1e5 / static_cast<double>(row.intervals);
        const double base = 1e5 / static_cast<double>(rows.front().intervals);
        const Figures& f = row.imports[p];
        const Figures& first = rows.front().imports[p];
        std::printf(
            "    %8ld intervals: %7.1f ms (%.2f x the smallest's)   %6.1f MB above "
            "start-up (%.2f x)\n",
            row.intervals, f.seconds * 1e3 * per, (f.seconds * per) / (first.seconds * base),
            Mb(f.peakKilobytes - idle[p]) * per,
            (Mb(f.peakKilobytes - idle[p]) * per) / (Mb(first.peakKilobytes - idle[p]) * base));
      }
    }
  }
  std::printf(
      "\ntargets: time <= %.1f x pugixml's load; peak memory <= %.1f x the document; "
      "per-interval time and memory flat across sizes\n",
      kTimeTarget, kMemoryTarget);

  std::error_code ec;
  fs::remove_all(dir, ec);
  if (failed) {
    std::fprintf(stderr, "some runs failed\n");
    return 1;
  }
  return 0;
}
