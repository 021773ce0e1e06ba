// How songs start and follow each other through an audio server: plays a
// playlist of three short songs of a steady tone with `glimmer show` into a
// pseudo-terminal, the audio going to a PulseAudio null sink started here for
// each run (it renders in real time, as a sound card does), and prints per run:
//
// - entry start to first heard frame. An entry starts with a burst of
//   keep-alives on the line (three within a few milliseconds, which nothing
//   else sends). "Heard" is taken from the line: each song has one row at
//   0.2 s, which the player sends when its heard position gets there; and,
//   with the 10 ms recorder, from the recording too (only its data arrives as
//   the sink renders it, so only its frames can be put on our clock).
// - silence between songs, from the recording: the samples between one
//   song's tone and the next.
// - how far apart the entries start, beyond the length of a song.
// - the longest wait for a keep-alive on the line, from the first to the
//   last one of the run.
// Then a summary per program and configuration: the worst of its runs.
//
// Three configurations, as a sink may be shared: no other client on the sink;
// a recorder of default latency on its monitor; a recorder asking for 10 ms.
// A recorder starts 2.5 s before the show, so it is a client already there.
// Without a recorder there is no recording, so only the line tells when the
// player heard its song.
//
// Targets: first frame heard within 100 ms of the entry's start; silence
// between songs at most the output latency the player asks for (50 ms) plus
// 20 ms; no wait for a keep-alive longer than 0.5 s.
//
// Usage: bench_song_transitions [--glimmer PATH]... [--runs N] [--seconds S]
//   --glimmer PATH  a glimmer program to measure; several are measured side by
//                   side in one run (default: the one beside this program)
//   --runs N        runs per program and configuration (default 2)
//   --seconds S     length of each song (default 3)
//   --verbose       also prints when each keep-alive arrived
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <tuple>
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
using bench::StopChild;
using sequence_format::Column;
using Record = sequence_format::EventTable::Record;

constexpr int kRate = 44100;
constexpr int kSongs = 3;
constexpr char kSink[] = "glimmer_songs";
constexpr int kFrameTiming = 1;
// The row each song has, at 35 flush steps (0.203 s): sent in the pass that
// reaches it, so it leaves when the heard position is there.
constexpr auto kRowSample = static_cast<std::int32_t>(35 * playback::kFlushStep);
// The output latency the player asks for (50 ms) plus the 20 ms allowed.
constexpr double kSilenceTargetMs = 70;
constexpr double kNotSeen = -1e9;
const double kRowHeardSeconds =
    static_cast<double>(kRowSample - kFrameTiming * playback::kFrameTimingStep) /
    playback::kSamplesPerSecond;

enum class Config { NoClient, DefaultRecorder, LowLatencyRecorder };

const char* ConfigName(Config c) {
  switch (c) {
    case Config::NoClient:
      return "no client on the sink";
    case Config::DefaultRecorder:
      return "recorder, default latency";
    case Config::LowLatencyRecorder:
      return "recorder, 10 ms latency";
  }
  return "";
}

struct RunResult {
  bool ok = false;
  std::string failure;
  // Per song; negative where not seen.
  std::vector<double> startToHeardLineMs, startToHeardRecordingMs;
  std::vector<double> silenceMs;  // between song k and k+1
  std::vector<double> entryStartsS;
  double longestKeepAliveGapMs = 0;
  std::string keepAlivesMs;  // when each keep-alive arrived, from the first entry's start
};

RunResult RunOnce(const std::string& glimmer, const std::string& dir, Config config,
                  double songSeconds) {
  RunResult result;
  const std::vector<std::string> env = bench::SinkEnvironment(dir, kSink);
  bench::NullSinkServer server;
  if (!server.Start(dir, kSink)) {
    result.failure = "pulseaudio did not start (is it installed?)";
    return result;
  }
  bench::RawPty pty;
  if (!pty.Open()) {
    result.failure = "no pseudo-terminal";
    return result;
  }
  platform::UniqueFd& master = pty.master;

  // The recording, if this configuration has a recorder.
  bench::MonitorRecorder recorder;
  if (config != Config::NoClient) {
    if (!recorder.Start(env, kSink, kRate, config == Config::LowLatencyRecorder ? 10 : 0, false)) {
      result.failure = "parec did not start";
      return result;
    }
    // A client already on the sink: what the sink rendered ahead before the
    // recorder came (up to two seconds) has played out.
    std::this_thread::sleep_for(std::chrono::milliseconds(2500));
  }

  // Ends once the fourth entry (the playlist again) has started, or at the
  // deadline.
  std::vector<std::pair<Clock::time_point, std::string>> arrivals;
  const int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
  const pid_t show =
      Spawn({glimmer, "show", "--dir", dir, "--device", pty.slaveName}, env, null, null);
  if (null >= 0) close(null);
  pty.slave.Reset();
  const auto deadline = Clock::now() + std::chrono::duration<double>(kSongs * (songSeconds + 3));
  const auto entryStarts = [&] {
    // The first keep-alive of three within 20 ms.
    std::vector<double> times;
    std::string line;
    std::vector<double> byteTimes;
    for (const auto& [at, bytes] : arrivals) {
      line += bytes;
      byteTimes.insert(byteTimes.end(), bytes.size(), Seconds(at));
    }
    std::vector<double> kas;
    // Framed, so the same bytes inside an event message are not taken for one.
    playback::MessageFramer framer;
    for (const playback::WireFrame& frame : framer.Feed(line)) {
      if (frame.isMessage && frame.bytes == playback::kKeepAliveMessage) {
        kas.push_back(byteTimes[frame.offset + frame.bytes.size() - 1]);
      }
    }
    std::vector<double> starts;
    for (std::size_t i = 0; i + 2 < kas.size(); ++i) {
      if (kas[i + 2] - kas[i] < 0.020 && (starts.empty() || kas[i] - starts.back() > 0.5)) {
        starts.push_back(kas[i]);
      }
    }
    return std::tuple{starts, kas, line, byteTimes};
  };
  while (Clock::now() < deadline) {
    pollfd p{master.get(), POLLIN, 0};
    if (poll(&p, 1, 200) == 1) {
      char buffer[4096];
      const ssize_t n = read(master.get(), buffer, sizeof buffer);
      const auto at = Clock::now();
      if (n <= 0) break;
      arrivals.emplace_back(at, std::string(buffer, static_cast<std::size_t>(n)));
      if (std::get<0>(entryStarts()).size() > kSongs) break;
    }
  }
  StopChild(show, SIGINT);
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  recorder.Stop();
  const std::vector<std::int16_t>& samples = recorder.samples;

  const auto [starts, kas, line, byteTimes] = entryStarts();
  if (starts.size() < static_cast<std::size_t>(kSongs)) {
    result.failure = "only " + std::to_string(starts.size()) + " entries started on the line";
    return result;
  }
  result.entryStartsS = starts;
  for (double at : kas) {
    result.keepAlivesMs += std::to_string(std::lround(1000 * (at - starts[0]))) + " ";
  }
  for (std::size_t i = 1; i < kas.size(); ++i) {
    result.longestKeepAliveGapMs =
        std::max(result.longestKeepAliveGapMs, 1000 * (kas[i] - kas[i - 1]));
  }
  // Heard, per the player: its row at 0.2 s left when the heard position got there.
  for (int s = 0; s < kSongs; ++s) {
    const char row[] = {0, 1, 0x33, static_cast<char>(10 + s)};
    const std::size_t at = line.find(std::string(row, 4), 0);
    double ms = kNotSeen;
    if (at != std::string::npos) {
      // The row of song s after its entry started.
      for (std::size_t i = at; i != std::string::npos; i = line.find(std::string(row, 4), i + 1)) {
        if (byteTimes[i] >= starts[static_cast<std::size_t>(s)]) {
          ms = 1000 * (byteTimes[i] - kRowHeardSeconds - starts[static_cast<std::size_t>(s)]);
          break;
        }
      }
    }
    result.startToHeardLineMs.push_back(ms);
  }

  if (config != Config::NoClient) {
    // The tone's stretches: a song is sound without a break of 1 ms or more.
    std::vector<std::pair<std::size_t, std::size_t>> songs;  // first, one past last
    std::size_t quiet = 0;
    for (std::size_t i = 0; i < samples.size(); ++i) {
      if (std::abs(samples[i]) > 2000) {
        if (songs.empty() || quiet >= kRate / 1000) songs.emplace_back(i, i + 1);
        songs.back().second = i + 1;
        quiet = 0;
      } else {
        ++quiet;
      }
    }
    for (std::size_t k = 0; k + 1 < songs.size() && k + 1 < kSongs; ++k) {
      result.silenceMs.push_back(1000.0 *
                                 static_cast<double>(songs[k + 1].first - songs[k].second) / kRate);
    }
    // Recording frames to our clock: the earliest arrival less the frames
    // before it (data cannot arrive before it was rendered), through the run.
    // Only a recorder of low latency gets its data as it is rendered; one of
    // default latency gets it in blocks of up to seconds, rendered ahead, and
    // its frames cannot be put on our clock this way.
    double offset = 1e300;
    for (const bench::MonitorRecorder::Chunk& c : recorder.chunks) {
      offset = std::min(offset, Seconds(c.at) - static_cast<double>(c.framesAfter) / kRate);
    }
    for (std::size_t k = 0; config == Config::LowLatencyRecorder && k < songs.size() && k < kSongs;
         ++k) {
      const double heard = offset + static_cast<double>(songs[k].first) / kRate;
      result.startToHeardRecordingMs.push_back(1000 * (heard - starts[k]));
    }
    if (songs.size() < static_cast<std::size_t>(kSongs)) {
      result.failure = "the recording holds " + std::to_string(songs.size()) + " songs";
      return result;
    }
  }
  result.ok = true;
  return result;
}

bool WriteSongs(const std::string& dir, double seconds) {
  std::string playlist = "\2600.94\r\n";
  platform::PosixFileStore files;
  for (int s = 0; s < kSongs; ++s) {
    const std::string name = dir + "/song" + std::to_string(s + 1);
    const auto frames = static_cast<std::int64_t>(seconds * kRate);
    std::vector<std::int16_t> tone(static_cast<std::size_t>(frames));
    const double hz = 440.0 + 110.0 * s;
    for (std::int64_t i = 0; i < frames; ++i) {
      tone[static_cast<std::size_t>(i)] = static_cast<std::int16_t>(
          16000 * std::sin(2 * M_PI * hz * static_cast<double>(i) / kRate));
    }
    if (!files.ReplaceFile(name + ".wav", binary::PcmWav(kRate, 1, tone))) return false;
    Record r;
    r.values[static_cast<int>(Column::SampleNumber)] = kRowSample;
    r.values[static_cast<int>(Column::Device)] = 1;
    r.values[static_cast<int>(Column::Channel)] = 1;
    r.values[static_cast<int>(Column::Command)] = 33;
    r.values[static_cast<int>(Column::StartIntensity)] = 10 + s;
    if (!sequence_format::SaveSequenceCache(sequence_format::EventTable::FromRecords({r}),
                                            name + ".csq", files)) {
      return false;
    }
    playlist += name + ".wav\r\n" + name + ".csq\r\nSong " + std::to_string(s + 1) +
                "\r\nsong.msq\r\n0.94\r\n";
  }
  std::FILE* p = std::fopen((dir + "/playlist.txt").c_str(), "wb");
  if (!p) return false;
  std::fwrite(playlist.data(), 1, playlist.size(), p);
  std::fclose(p);
  // Open all day, so the show plays at once.
  const std::string prefs = "1\r\n115200\r\n" + std::to_string(kFrameTiming) +
                            "\r\n12:00:00 AM\r\n11:59:59 PM\r\n0\r\nc:\\\r\n";
  std::FILE* q = std::fopen((dir + "/preferences.txt").c_str(), "wb");
  if (!q) return false;
  std::fwrite(prefs.data(), 1, prefs.size(), q);
  std::fclose(q);
  return true;
}

std::string List(const std::vector<double>& values) {
  std::string text;
  char one[32];
  for (double v : values) {
    std::snprintf(one, sizeof one, text.empty() ? "%.0f" : " %.0f", v);
    text += v <= kNotSeen ? (text.empty() ? "?" : " ?") : one;
  }
  return text.empty() ? "n/a" : text;
}

double Max(const std::vector<double>& values) {
  return values.empty() ? 0 : *std::max_element(values.begin(), values.end());
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> programs;
  int runs = 2;
  double songSeconds = 3;
  bool verbose = false;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--glimmer" && i + 1 < argc) {
      programs.push_back(argv[++i]);
    } else if (a == "--runs" && i + 1 < argc) {
      runs = std::clamp(std::atoi(argv[++i]), 1, 20);
    } else if (a == "--verbose") {
      verbose = true;
    } else if (a == "--seconds" && i + 1 < argc) {
      songSeconds = std::clamp(std::atof(argv[++i]), 1.0, 30.0);
    } else {
      std::fprintf(stderr, "usage: %s [--glimmer PATH]... [--runs N] [--seconds S] [--verbose]\n",
                   argv[0]);
      return 2;
    }
  }
  if (programs.empty()) {
    programs.push_back((std::filesystem::path(argv[0]).parent_path() / "glimmer").string());
  }

  char tmp[] = "/tmp/glimmer-songs-XXXXXX";
  if (!mkdtemp(tmp)) return 1;
  const std::string dir = tmp;
  if (!WriteSongs(dir, songSeconds)) {
    std::fprintf(stderr, "cannot write the songs in %s\n", dir.c_str());
    return 1;
  }
  std::printf("%d songs of %.1f s, a tone each, through a PulseAudio null sink; times in ms\n",
              kSongs, songSeconds);
  std::printf(
      "targets: start->heard <= 100, silence <= 70 (50 ms output latency + 20), keep-alive gap <= "
      "500\n");
  bool met = true;
  // Worst of the runs, per program and configuration.
  struct Worst {
    double firstHeard = kNotSeen, laterHeard = kNotSeen, silence = kNotSeen,
           keepAliveGap = kNotSeen;
    int failed = 0;
  };
  std::vector<std::vector<Worst>> worst(programs.size(), std::vector<Worst>(3));
  const Config configs[] = {Config::NoClient, Config::DefaultRecorder, Config::LowLatencyRecorder};
  for (Config config : configs) {
    std::printf("\n== %s\n", ConfigName(config));
    for (int run = 0; run < runs; ++run) {
      // Programs alternate within a round, so both see the same machine.
      for (std::size_t p = 0; p < programs.size(); ++p) {
        const std::string& glimmer = programs[p];
        Worst& w = worst[p][static_cast<std::size_t>(config)];
        RunResult r = RunOnce(glimmer, dir, config, songSeconds);
        std::printf("%-40s run %d: ", glimmer.c_str(), run + 1);
        if (!r.ok && r.startToHeardLineMs.empty()) {
          std::printf("FAILED: %s\n", r.failure.c_str());
          ++w.failed;
          met = false;
          continue;
        }
        std::vector<double> spacing;
        for (std::size_t k = 1; k < r.entryStartsS.size() && k <= kSongs; ++k) {
          spacing.push_back(1000 * (r.entryStartsS[k] - r.entryStartsS[k - 1] - songSeconds));
        }
        std::printf(
            "start->heard (recording) %s | (line) %s | silence between songs %s | "
            "entries apart beyond the song %s | longest keep-alive gap %.0f%s\n",
            List(r.startToHeardRecordingMs).c_str(), List(r.startToHeardLineMs).c_str(),
            List(r.silenceMs).c_str(), List(spacing).c_str(), r.longestKeepAliveGapMs,
            r.ok ? "" : ("  (" + r.failure + ")").c_str());
        for (std::size_t k = 0; k < kSongs; ++k) {
          double& into = k == 0 ? w.firstHeard : w.laterHeard;
          for (const auto* v : {&r.startToHeardLineMs, &r.startToHeardRecordingMs}) {
            if (k < v->size()) into = std::max(into, (*v)[k]);
          }
        }
        w.silence = std::max(w.silence, r.silenceMs.empty() ? kNotSeen : Max(r.silenceMs));
        w.keepAliveGap = std::max(w.keepAliveGap, r.longestKeepAliveGapMs);
        if (!r.ok) ++w.failed;
        if (verbose) std::printf("  keep-alives at (ms): %s\n", r.keepAlivesMs.c_str());
        const double heard = std::max(Max(r.startToHeardRecordingMs), Max(r.startToHeardLineMs));
        met = met && r.ok && heard <= 100 && Max(r.silenceMs) <= kSilenceTargetMs &&
              r.longestKeepAliveGapMs <= 500;
      }
    }
  }
  std::printf(
      "\nWorst of %d run(s), ms: entry start -> first heard frame (song 1 | songs 2-3), "
      "silence between songs, longest keep-alive gap\n",
      runs);
  for (std::size_t p = 0; p < programs.size(); ++p) {
    for (Config config : configs) {
      const Worst& w = worst[p][static_cast<std::size_t>(config)];
      const auto ms = [](double v) {
        char text[16];
        std::snprintf(text, sizeof text, "%.0f", v);
        return v <= kNotSeen ? std::string("n/a") : std::string(text);
      };
      std::printf("%-40s %-27s heard %6s | %6s   silence %6s   keep-alive gap %6s%s\n",
                  programs[p].c_str(), ConfigName(config), ms(w.firstHeard).c_str(),
                  ms(w.laterHeard).c_str(), ms(w.silence).c_str(), ms(w.keepAliveGap).c_str(),
                  w.failed > 0 ? ("  (" + std::to_string(w.failed) + " failed)").c_str() : "");
    }
  }
  std::filesystem::remove_all(dir);
  return met ? 0 : 1;
}
