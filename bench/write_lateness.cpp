// How late the player's writes reach the serial port against each row's
// moment, played as `glimmer play --silent` plays it: the same program text
// builds on Linux (a pseudo-terminal or a serial device) and on Windows (a COM
// port), so the two builds' figures stand side by side on the same work.
// Something must read the line's other end; bench/wine_write_lateness.sh runs
// both builds, each on a pseudo-terminal it drains.
//
// Target: lateness at the write p99 <= 6 ms (the flush window the wire
// protocol batches into is 5.8 ms).
//
// Usage: bench_write_lateness --device DEVICE [--seconds N] [--frame-timing N] [--baud N]
//   --baud N   the line's rate, 56000 (the default) or 115200
#ifndef _WIN32
#include <sys/resource.h>
#endif
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>
#include <unordered_map>
#include <utility>
#include <vector>

#include "bench/dense_sequence.h"
#include "binary/wav_writer.h"
#include "platform/audio_factory.h"
#include "platform/log_file.h"
#include "platform/system.h"
#include "playback/show_session.h"
#include "playback/wire_protocol.h"
#include "sequence_format/fade_timing.h"
#include "sequence_format/sequence_cache.h"
#include "tools/glimmer/console_show_window.h"

// windows.h names a function of its own ReplaceFile.
#undef ReplaceFile

namespace {

using Clock = std::chrono::steady_clock;
using bench::TimedPort;
using sequence_format::Column;

double Ms(Clock::duration d) {
  return std::chrono::duration<double, std::milli>(d).count();
}

// The song's zero on the steady clock: the first position read after the
// song opened, less that position.
class StartStampingAudio final : public platform::AudioPlayer {
 public:
  explicit StartStampingAudio(platform::AudioPlayer& inner) : inner_(inner) {}
  platform::Status Open(const std::string& path) override {
    stamped_ = false;
    return inner_.Open(path);
  }
  int PlayState() override { return inner_.PlayState(); }
  double PositionSeconds() override {
    const double position = inner_.PositionSeconds();
    if (!stamped_) {
      start = Clock::now() -
              std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(position));
      stamped_ = true;
    }
    return position;
  }
  double DurationSeconds() override { return inner_.DurationSeconds(); }
  void Stop() override { inner_.Stop(); }
  void Close() override { inner_.Close(); }
  bool IsSilent() const override { return inner_.IsSilent(); }
  std::string SilentReason() const override { return inner_.SilentReason(); }
  Clock::time_point start{};

 private:
  platform::AudioPlayer& inner_;
  bool stamped_ = false;
};

// The process's time on the cores so far, in seconds: how much of a core
// the show's waits cost.
double CpuSeconds() {
#ifdef _WIN32
  FILETIME created{}, exited{}, kernel{}, user{};
  ::GetProcessTimes(::GetCurrentProcess(), &created, &exited, &kernel, &user);
  const auto ticks = [](FILETIME f) {
    return static_cast<double>((static_cast<std::uint64_t>(f.dwHighDateTime) << 32) |
                               f.dwLowDateTime);
  };
  return (ticks(kernel) + ticks(user)) / 1e7;
#else
  rusage usage{};
  ::getrusage(RUSAGE_SELF, &usage);
  const auto seconds = [](timeval t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
#endif
}

int Usage(const char* program) {
  std::fprintf(stderr, "usage: %s --device DEVICE [--seconds N] [--frame-timing N] [--baud N]\n",
               program);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  int seconds = 60;
  int frameTiming = 5;
  int baud = 56000;
  std::string device;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--seconds" && i + 1 < argc) {
      seconds = std::max(3, std::atoi(argv[++i]));
    } else if (a == "--frame-timing" && i + 1 < argc) {
      frameTiming = std::clamp(std::atoi(argv[++i]), 1, 10);
    } else if (a == "--baud" && i + 1 < argc) {
      baud = std::atoi(argv[++i]);
    } else if (a == "--device" && i + 1 < argc) {
      device = argv[++i];
    } else {
      return Usage(argv[0]);
    }
  }
  if (device.empty()) return Usage(argv[0]);

  // ---- the entry: a sequence cache file and a silent song of its length ----
  std::error_code ec;
  const std::filesystem::path dir =
      std::filesystem::temp_directory_path(ec) /
      ("glimmer-write-lateness-" + std::to_string(Clock::now().time_since_epoch().count()));
  std::filesystem::create_directories(dir, ec);
  const std::vector<bench::Record> records = bench::MakeSequence(seconds);
  playlist::PlaylistEntry entry;
  entry.CachePath = (dir / "bench.csq").string();
  entry.AudioPath = (dir / "bench.wav").string();
  entry.ListText = "bench";
  const std::unique_ptr<platform::FileStore> files = platform::MakeFileStore();
  if (auto s = bench::WriteEntryFiles(records, seconds, entry, *files); !s) {
    std::fprintf(stderr, "%s\n", s.message().c_str());
    return 1;
  }
  const sequence_format::FadeTimingTable& fadeTimings = sequence_format::kFadeTimingTable;
  const std::unordered_map<std::string, std::size_t> rowOfMessage =
      bench::RowOfMessage(records, seconds);
  std::printf("sequence: %zu rows over %d s, frame timing %d, on %s at %d baud\n", records.size(),
              seconds, frameTiming, device.c_str(), baud);

  // ---- the player, as `glimmer play --silent` builds it ----
  glimmer::FixedShowSettings settings({1, baud, frameTiming, "12:00:00 AM", "11:59:59 PM"});
  glimmer::SingleEntry playlist(entry);
  platform::LineOutput errors(STDERR_FILENO);
  glimmer::ConsoleShowView quietView(errors, /*labelled=*/true, /*quiet=*/true);
  glimmer::NoShowLog noLog;
  glimmer::ConsoleUserInterface ui;
  bool running = true;
  const std::unique_ptr<platform::AudioPlayer> silent = platform::MakeAudioPlayer({.silent = true});
  StartStampingAudio audio(*silent);
  const std::unique_ptr<platform::SerialPort> port =
      platform::MakeSerialPort({.dataFolder = "", .devicePath = device});
  TimedPort timedPort(*port);
  const std::unique_ptr<platform::Clock> clock = platform::MakeSystemClock();
  playback::ShowSession session({timedPort, audio, ui, *clock, noLog, platform::LocalDateTime},
                                {running, settings, playlist, quietView}, fadeTimings);
  const std::unique_ptr<platform::DispatchPriority> priority = platform::MakeDispatchPriority();
  session.SetDispatchPriority(priority.get());
  if (auto s = session.OpenPort(); !s) {
    std::fprintf(stderr, "%s\n", s.message().c_str());
    return 1;
  }
  const double cpuBefore = CpuSeconds();
  const auto playStarted = Clock::now();
  const auto outcome = session.PlayEntry(0);
  const double cpuShare = (CpuSeconds() - cpuBefore) /
                          std::chrono::duration<double>(Clock::now() - playStarted).count();
  session.ClosePort();
  std::filesystem::remove_all(dir, ec);
  if (outcome != playback::PlayOutcome::Finished) {
    std::fprintf(stderr, "the entry did not finish: %s\n", quietView.LastNotice().c_str());
    return 1;
  }

  // ---- each event message's write against its moment ----
  std::vector<double> lateness;
  std::vector<int> timesWritten(records.size(), 0);
  for (const auto& [at, bytes] : timedPort.writes) {
    // Each write holds whole messages.
    playback::MessageFramer oneWrite;
    std::vector<playback::WireFrame> frames = oneWrite.Feed(bytes);
    for (playback::WireFrame& frame : oneWrite.Flush()) frames.push_back(std::move(frame));
    for (const playback::WireFrame& frame : frames) {
      const auto found = rowOfMessage.find(frame.bytes);
      if (found == rowOfMessage.end()) continue;
      ++timesWritten[found->second];
      const std::int64_t sample = records[found->second].Get(Column::SampleNumber).value_or(0);
      const std::int64_t dueAt =
          std::max<std::int64_t>(0, sample - frameTiming * playback::kFrameTimingStep);
      const double dueMs = 1000.0 * static_cast<double>(dueAt) / playback::kSamplesPerSecond;
      lateness.push_back(Ms(at - audio.start) - dueMs);
    }
  }
  std::size_t missing = 0;
  for (int n : timesWritten) missing += n == 0 ? 1 : 0;
  const double p99 = bench::Percentile(lateness, 0.99);
  std::printf("written: %zu event messages in %zu writes, %zu rows never written\n",
              lateness.size(), timedPort.writes.size(), missing);
  std::printf(
      "lateness at the port write: median %.2f ms, p99 %.2f ms, max %.2f ms   [target p99 <= 6]\n",
      bench::Percentile(lateness, 0.50), p99, bench::Max(lateness));
  std::vector<double> callMs;
  for (const Clock::duration d : timedPort.callTimes) callMs.push_back(Ms(d));
  std::printf("the write calls themselves: median %.3f ms, p99 %.3f ms\n",
              bench::Percentile(callMs, 0.50), bench::Percentile(callMs, 0.99));
  std::printf("cpu while playing: %.1f %% of one core\n", 100.0 * cpuShare);
  std::printf("%s\n", missing == 0 && p99 <= 6.0 ? "targets met" : "targets MISSED");
  return missing == 0 ? 0 : 1;
}
