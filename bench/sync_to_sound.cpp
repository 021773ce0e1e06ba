// How close the controller messages come to the sound that is heard: plays a
// song of short clicks and a sequence with one row at every click through
// `glimmer play` into a pseudo-terminal, with the audio going to a PulseAudio
// null sink (which renders in real time, as a sound card does) started here
// for the run. The sink's monitor is recorded; for every click it prints when
// its message reached the line minus the moment it should have (the moment
// the click was heard less the Frame Timing lead of 512 positions per step).
//
// Target: every message within -3 ms .. +8.8 ms (one flush step of 5.8 ms
// plus 3 ms).
//
// Usage: bench_sync_to_sound [--glimmer PATH] [--clicks N] [--frame-timing N]...
//   --glimmer PATH     the glimmer program to measure (default: beside this one)
//   --clicks N         clicks per run (default 40, two a second)
//   --frame-timing N   may be given more than once (default 1 and 5)
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "bench/null_sink_rig.h"
#include "binary/wav_writer.h"
#include "platform/posix/posix_file_store.h"
#include "playback/wire_protocol.h"
#include "sequence_format/event_table.h"
#include "sequence_format/sequence_cache.h"

namespace {

using bench::Clock;
using bench::Seconds;
using bench::Spawn;
using Chunk = bench::MonitorRecorder::Chunk;
using sequence_format::Column;
using Record = sequence_format::EventTable::Record;

constexpr int kRate = 44100;
constexpr char kSink[] = "glimmer_sync";

struct RunResult {
  // Per click found on both sides, against the monitor's arrival and against
  // the sink's clock.
  std::vector<double> errorsMs, blockErrorsMs;
  double clockPpm = 0;  // the audio server's clock against ours
  int clicksHeard = 0, messages = 0;
};

RunResult RunOnce(const std::string& glimmer, const std::string& cache, const std::string& wav,
                  const std::vector<std::string>& env, int frameTiming, int clicks) {
  RunResult result;
  // The line.
  bench::RawPty pty;
  if (!pty.Open()) return result;
  const platform::UniqueFd& master = pty.master;
  std::vector<std::pair<Clock::time_point, std::string>> arrivals;
  std::thread lineReader([&] {
    bench::TryRealtime();
    char buffer[4096];
    for (;;) {
      pollfd p{master.get(), POLLIN, 0};
      if (poll(&p, 1, 3000) <= 0) return;
      const ssize_t n = read(master.get(), buffer, sizeof buffer);
      const auto at = Clock::now();
      if (n <= 0) return;
      arrivals.emplace_back(at, std::string(buffer, static_cast<std::size_t>(n)));
    }
  });

  // The sound.
  bench::MonitorRecorder recorder;
  if (!recorder.Start(env, kSink, kRate, 2, true)) {
    pty.slave.Reset();
    lineReader.join();
    return result;
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(500));  // recorder running

  const pid_t player = Spawn({glimmer, "play", "--device", pty.slaveName, "--frame-timing",
                              std::to_string(frameTiming), cache, wav},
                             env);
  pty.slave.Reset();
  int status = 0;
  if (player > 0) waitpid(player, &status, 0);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  recorder.Stop();
  const std::vector<std::int16_t>& samples = recorder.samples;
  const std::vector<Chunk>& chunks = recorder.chunks;
  lineReader.join();
  if (player <= 0 || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    std::fprintf(stderr, "glimmer play failed (status %d)\n", status);
    return result;
  }

  // When each sample of the recording was heard, on our clock: the time of
  // sample 0 plus the samples since, corrected for the audio server's clock
  // running at its own rate (a few hundred parts per million off ours here,
  // milliseconds over a song). Each second of recording gives one point: the
  // earliest arrival in it less the samples before it (data arrives no
  // earlier than it was rendered); a straight line through the points maps
  // samples to times.
  const auto fitLine = [](const std::vector<std::pair<double, double>>& points) {
    double n = 0, sx = 0, sy = 0, sxx = 0, sxy = 0;
    for (const auto& [x, y] : points) n += 1, sx += x, sy += y, sxx += x * x, sxy += x * y;
    const double slope =
        n > 1 && n * sxx - sx * sx != 0 ? (n * sxy - sx * sy) / (n * sxx - sx * sx) : 0;
    return std::pair{(sy - slope * sx) / std::max(n, 1.0), slope};
  };
  const auto earliestPerSecond = [&](auto frameOf) {
    std::vector<std::pair<double, double>> points;
    double best = 1e300, bestFrame = 0;
    std::int64_t second = 0;
    for (std::size_t i = 0; i < chunks.size(); ++i) {
      const std::int64_t frame = frameOf(i);
      if (frame < 0) continue;
      if (frame / kRate != second && best < 1e299) {
        points.emplace_back(bestFrame, best);
        best = 1e300;
      }
      second = frame / kRate;
      const double offset = Seconds(chunks[i].at) - static_cast<double>(frame) / kRate;
      if (offset < best) best = offset, bestFrame = static_cast<double>(frame);
    }
    if (best < 1e299) points.emplace_back(bestFrame, best);
    // Only points on the lower edge: a point above the first fit by more than
    // a millisecond was held up on its way.
    auto line = fitLine(points);
    std::vector<std::pair<double, double>> low;
    for (const auto& p : points) {
      if (p.second <= line.first + line.second * p.first + 0.001) low.push_back(p);
    }
    return fitLine(low);
  };
  // Monitor arrival: the last frame of each read, when the read arrived.
  const auto arrival = earliestPerSecond([&](std::size_t i) { return chunks[i].framesAfter; });
  // Sink clock: the null sink renders a block ahead of its clock and the
  // monitor gets the whole block at once, its last frame up to a block before
  // the sink's clock reaches it (as a card's buffer holds what the server
  // wrote ahead). The first frame of each block arriving is the one heard
  // then; reads that arrive together belong to one block.
  const auto block = earliestPerSecond([&](std::size_t i) -> std::int64_t {
    const bool startsBlock =
        i == 0 || chunks[i].at - chunks[i - 1].at > std::chrono::microseconds(700);
    if (!startsBlock) return -1;
    return i == 0 ? 0 : chunks[i - 1].framesAfter;
  });
  const auto heardAt = [](const std::pair<double, double>& line, double frame) {
    return line.first + line.second * frame + frame / kRate;
  };
  std::vector<std::size_t> heard;
  for (std::size_t i = 0; i < samples.size();) {
    if (std::abs(samples[i]) > 8000) {
      heard.push_back(i);
      i += kRate / 5;
    } else {
      ++i;
    }
  }
  result.clicksHeard = static_cast<int>(heard.size());
  result.clockPpm = arrival.second * kRate * 1e6;
  // Row k's message is 00 01 33 k 01 00.
  std::vector<double> sent(static_cast<std::size_t>(clicks), -1);
  std::string line;
  std::vector<Clock::time_point> byteTimes;
  for (const auto& [at, bytes] : arrivals) {
    line += bytes;
    byteTimes.insert(byteTimes.end(), bytes.size(), at);
  }
  playback::MessageFramer framer;
  for (const playback::WireFrame& frame : framer.Feed(line)) {
    const std::string& m = frame.bytes;
    if (!frame.isMessage || m.size() != 6 || m[1] != 1 || m[2] != 0x33 || m[4] != 1) continue;
    const int k = static_cast<unsigned char>(m[3]);
    if (k < clicks && sent[static_cast<std::size_t>(k)] < 0) {
      sent[static_cast<std::size_t>(k)] = Seconds(byteTimes[frame.offset + 5]);
      ++result.messages;
    }
  }
  const double lead = static_cast<double>(frameTiming * playback::kFrameTimingStep) /
                      static_cast<double>(playback::kSamplesPerSecond);
  for (int k = 0; k < clicks && k < static_cast<int>(heard.size()); ++k) {
    const double at = sent[static_cast<std::size_t>(k)];
    if (at < 0) continue;
    const double frame = static_cast<double>(heard[static_cast<std::size_t>(k)]);
    result.errorsMs.push_back(1000.0 * (at - (heardAt(arrival, frame) - lead)));
    result.blockErrorsMs.push_back(1000.0 * (at - (heardAt(block, frame) - lead)));
  }
  return result;
}

}  // namespace

int main(int argc, char** argv) {
  std::string glimmer = (std::filesystem::path(argv[0]).parent_path() / "glimmer").string();
  int clicks = 40;
  std::vector<int> frameTimings;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--glimmer" && i + 1 < argc) {
      glimmer = argv[++i];
    } else if (a == "--clicks" && i + 1 < argc) {
      clicks = std::clamp(std::atoi(argv[++i]), 1, 200);
    } else if (a == "--frame-timing" && i + 1 < argc) {
      frameTimings.push_back(std::clamp(std::atoi(argv[++i]), 1, 10));
    } else {
      std::fprintf(stderr, "usage: %s [--glimmer PATH] [--clicks N] [--frame-timing N]...\n",
                   argv[0]);
      return 2;
    }
  }
  if (frameTimings.empty()) frameTimings = {1, 5};

  char tmp[] = "/tmp/glimmer-sync-XXXXXX";
  if (!mkdtemp(tmp)) return 1;
  const std::string dir = tmp;
  const std::vector<std::string> env = bench::SinkEnvironment(dir, kSink);

  // The audio server, for this run only.
  bench::NullSinkServer server;
  if (!server.Start(dir, kSink)) {
    std::fprintf(stderr, "cannot start pulseaudio (is it installed?)\n");
    return 1;
  }

  // Clicks two a second from 1 s in, each 1 ms long, at uneven frames.
  std::mt19937 random(11);
  std::vector<std::int64_t> clickFrames;
  for (int k = 0; k < clicks; ++k) {
    clickFrames.push_back(kRate + k * kRate / 2 + static_cast<int>(random() % 2000));
  }
  const std::int64_t totalFrames = clickFrames.back() + kRate;
  std::vector<std::int16_t> song(static_cast<std::size_t>(totalFrames), 0);
  for (std::int64_t f : clickFrames) {
    for (int i = 0; i < kRate / 1000; ++i) song[static_cast<std::size_t>(f + i)] = 28000;
  }
  const std::string wav = dir + "/clicks.wav", cache = dir + "/clicks.csq";
  platform::PosixFileStore files;
  if (!files.ReplaceFile(wav, binary::PcmWav(kRate, 1, song))) return 1;
  std::vector<Record> rows;
  for (int k = 0; k < clicks; ++k) {
    Record r;
    r.values[static_cast<int>(Column::SampleNumber)] =
        static_cast<std::int32_t>(clickFrames[static_cast<std::size_t>(k)] * 2);
    r.values[static_cast<int>(Column::Device)] = 1;
    r.values[static_cast<int>(Column::Channel)] = 1;
    r.values[static_cast<int>(Column::Command)] = 33;
    r.values[static_cast<int>(Column::StartIntensity)] = k;
    rows.push_back(r);
  }
  if (!sequence_format::SaveSequenceCache(sequence_format::EventTable::FromRecords(rows), cache,
                                          files))
    return 1;

  std::printf("%s: %d clicks into a PulseAudio null sink, recorded from its monitor\n",
              glimmer.c_str(), clicks);
  bool met = true;
  for (int frameTiming : frameTimings) {
    RunResult r = RunOnce(glimmer, cache, wav, env, frameTiming, clicks);
    if (r.errorsMs.empty()) {
      std::printf("frame timing %d: nothing to compare (%d clicks heard, %d messages)\n",
                  frameTiming, r.clicksHeard, r.messages);
      met = false;
      continue;
    }
    const auto report = [&](const char* against, std::vector<double> e, bool counts) {
      std::sort(e.begin(), e.end());
      const double median = e[e.size() / 2];
      const bool ok = e.front() >= -3.0 && e.back() <= 8.8;
      if (counts) met = met && ok && static_cast<int>(e.size()) == clicks;
      std::printf(
          "frame timing %d, %s: %zu of %d clicks; message minus intended moment: min %.2f, "
          "median %.2f, max %.2f ms   [target -3 .. +8.8] %s\n",
          frameTiming, against, e.size(), clicks, e.front(), median, e.back(),
          ok ? "met" : "MISSED");
    };
    std::printf("frame timing %d: the audio server's clock runs %+.0f ppm against ours\n",
                frameTiming, -r.clockPpm);
    report("heard = monitor arrival", r.errorsMs, true);
    report("heard = sink clock     ", r.blockErrorsMs, false);
  }
  server.Stop();
  std::filesystem::remove_all(dir);
  return met ? 0 : 1;
}
