// When each controller message reaches its controller on a real serial line:
// realistic dense shows (120 bpm, a 50 ms sequencer grid, 8 or 16 controllers
// of 16 channels) are written as sequence documents, compiled by the import
// with and without the bitmask merge, and the player's batching rule is run
// over each compiled table through the line model at 56000 and 115200 baud,
// once as the player sent before it planned the line ("before") and once with
// its early sending ("after"). For each: lateness at the controller (p50, p99,
// max), the worst backlog, the physical floor E and max / E.
//
// Targets, with the merge on, at both rates: max <= E + 5.8 ms, p99 <= E.
// Where E is under one flush step and the line carries every batch in its
// own step, the player's writes stay where they always were and the wait for
// the step alone exceeds E; the table marks those cases.
//
// Beside the batching rule, the real player: `glimmer play --silent` of each
// compiled show (merge on) on a pseudo-terminal, its writes stamped by a
// reader and run through the same line model; `--glimmer-before` names an
// older build to play the same files in the same run.
//
// It also times the import's line report against the import itself (target:
// within 2 %): the report on the very table the compile has just saved, as the
// window and `glimmer compile` make it, best of several compiles, beside the
// report as it was computed before it was made cheap (in floating point),
// whose figures must be the same to the last rounding, and whose plan it
// lists the differences of.
//
// Usage: bench_line_timing [--seconds N] [--repeat N] [--play-seconds N]
//            [--glimmer PATH] [--glimmer-before PATH] [--keep DIR] [--only SHOW]
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <pty.h>
#include <sched.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <limits>
#include <optional>
#include <random>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "bench/former_line_report.h"
#include "binary/wav_writer.h"
#include "import/compile_sequence.h"
#include "import/compile_window.h"
#include "platform/posix/posix_file_store.h"
#include "platform/posix/realtime_priority.h"
#include "platform/user_interface.h"
#include "playback/line_model.h"
#include "playback/line_report.h"
#include "playback/wire_protocol.h"
#include "sequence_format/fade_timing.h"
#include "sequence_format/sequence_cache.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr long kGrid = 4410;   // 50 ms
constexpr long kBeat = 44100;  // 120 bpm
constexpr double kStepMs = 1000.0 * playback::kFlushStep / playback::kSamplesPerSecond;

struct Interval {
  long position;
  int effect;  // 1 fade, 3 intensity
  int in;
  int out;
};
// [controller][channel] -> intervals in time order
using Show = std::vector<std::vector<std::vector<Interval>>>;

Show EmptyShow(int controllers) {
  return Show(static_cast<std::size_t>(controllers), std::vector<std::vector<Interval>>(16));
}

// Every channel of every controller pulses on each beat: full, then a fade
// out over the beat; the same command on all channels of a bank.
Show Pulses(int controllers, long length) {
  Show show = EmptyShow(controllers);
  for (long t = kBeat; t < length; t += kBeat) {
    for (auto& controller : show) {
      for (auto& channel : controller) channel.push_back({t, 1, 255, 0});
    }
  }
  return show;
}

// A chase runs along each controller's 16 channels, one step on every grid
// point: the new channel fades up, the one before fades down.
Show Chases(int controllers, long length) {
  Show show = EmptyShow(controllers);
  for (long t = kGrid, step = 0; t < length; t += kGrid, ++step) {
    for (std::size_t c = 0; c < show.size(); ++c) {
      auto& controller = show[c];
      const std::size_t on = static_cast<std::size_t>(step + static_cast<long>(c)) % 16;
      controller[on].push_back({t, 1, 0, 255});
      controller[(on + 15) % 16].push_back({t, 1, 255, 0});
    }
  }
  return show;
}

// A pop song: on every beat a fade pulse on bank 1 of every controller,
// a chase on bank 2 on the grid, and on the bar a full flash.
Show Pop(int controllers, long length) {
  Show show = EmptyShow(controllers);
  for (long t = kGrid, step = 0; t < length; t += kGrid, ++step) {
    const bool beat = t % kBeat < kGrid;
    const bool bar = t % (4 * kBeat) < kGrid;
    for (std::size_t c = 0; c < show.size(); ++c) {
      auto& controller = show[c];
      if (beat) {
        for (std::size_t ch = 0; ch < 8; ++ch) controller[ch].push_back({t, 1, 255, 40});
      }
      if (bar) {
        for (std::size_t ch = 8; ch < 16; ++ch) controller[ch].push_back({t, 3, 255, 255});
      } else if (step % 2 == 0) {
        const std::size_t on = 8 + static_cast<std::size_t>(step / 2 + static_cast<long>(c)) % 8;
        for (std::size_t ch = 8; ch < 16; ++ch) {
          controller[ch].push_back({t, 3, ch == on ? 255 : 0, ch == on ? 255 : 0});
        }
      }
    }
  }
  return show;
}

// Sparkle: on each grid point a few random channels flash to a random level.
Show Sparkle(int controllers, long length) {
  Show show = EmptyShow(controllers);
  std::mt19937 random(7);
  for (long t = kGrid; t < length; t += kGrid) {
    for (auto& controller : show) {
      for (int k = 0; k < 3; ++k) {
        const int level = static_cast<int>(random() % 256);
        controller[random() % 16].push_back({t, 3, level, level});
      }
    }
  }
  for (auto& controller : show) {
    for (auto& channel : controller) {
      std::stable_sort(channel.begin(), channel.end(), [](const Interval& a, const Interval& b) {
        return a.position < b.position;
      });
    }
  }
  return show;
}

// Calm: long fades, each channel every two seconds, spread over the grid.
Show Calm(int controllers, long length) {
  Show show = EmptyShow(controllers);
  for (std::size_t c = 0; c < show.size(); ++c) {
    for (std::size_t ch = 0; ch < 16; ++ch) {
      const long offset = static_cast<long>((c * 16 + ch) % 40) * kGrid;
      bool up = true;
      for (long t = kGrid + offset; t < length; t += 4 * kBeat, up = !up) {
        show[c][ch].push_back({t, 1, up ? 0 : 255, up ? 255 : 0});
      }
    }
  }
  return show;
}

void WriteDocument(const std::string& path, const Show& show, const std::string& audio) {
  std::ofstream out(path, std::ios::binary);
  out << "<?xml version=\"1.0\" encoding=\"windows-1252\"?>\n<Sequence>\n  <AudioFile>\n"
         "    <Title>Bench</Title>\n    <Artist>Line</Artist>\n"
      << "    <FilePath>" << audio << "</FilePath>\n  </AudioFile>\n  <Controllers>\n";
  for (std::size_t c = 0; c < show.size(); ++c) {
    out << "    <Controller>\n      <ControllerID>" << c + 1
        << "</ControllerID>\n      <Channels>\n";
    for (std::size_t ch = 0; ch < show[c].size(); ++ch) {
      out << "        <Channel>\n          <ChannelNumber>" << ch + 1
          << "</ChannelNumber>\n          <TimeIntervals>\n";
      for (const Interval& i : show[c][ch]) {
        out << "            <TimeInterval><PositionInSamples>" << i.position
            << "</PositionInSamples><Effect>" << i.effect << "</Effect><IntensityIn>" << i.in
            << "</IntensityIn><IntensityOut>" << i.out << "</IntensityOut></TimeInterval>\n";
      }
      out << "          </TimeIntervals>\n        </Channel>\n";
    }
    out << "      </Channels>\n    </Controller>\n";
  }
  out << "  </Controllers>\n</Sequence>\n";
}

// How the report's figures compare with the former computation's, which
// summed seconds in floating point: figures may differ in their last digits
// (rounding), and where several rows are exactly as late, the former
// rounding picked one of them at random where the exact clock names the
// first. `difference` is the largest difference of a figure other than a
// moment (s); `earlierTies` counts moments that moved to an earlier row of
// equal lateness (within `difference`); anything else is a real difference.
struct Comparison {
  double difference = 0;
  int earlierTies = 0;
  bool differs = false;  // a count, a whole millisecond of the text, or a moment otherwise
  void Add(const playback::LineReport& former, const playback::LineReport& now) {
    if (former.baud != now.baud || former.messages != now.messages ||
        former.secondsOverCapacity != now.secondsOverCapacity) {
      differs = true;
      return;
    }
    double largest = 0;
    for (const auto& [x, y] :
         {std::pair{former.p50, now.p50}, std::pair{former.p99, now.p99},
          std::pair{former.max, now.max}, std::pair{former.earliest, now.earliest},
          std::pair{former.worstBacklogSeconds, now.worstBacklogSeconds},
          std::pair{former.floor, now.floor}}) {
      largest = std::max(largest, std::abs(x - y));
    }
    // Bytes, not seconds: a byte is at most 10 / 56000 s.
    largest =
        std::max(largest, std::abs(former.worstBacklogBytes - now.worstBacklogBytes) * 10 / 56000);
    difference = std::max(difference, largest);
    const auto moment = [&](double was, double is) {
      if (std::abs(was - is) < 1e-9) {
        difference = std::max(difference, std::abs(was - is));
      } else if (is < was) {
        ++earlierTies;
      } else {
        differs = true;
      }
    };
    moment(former.maxAt, now.maxAt);
    moment(former.worstBacklogAt, now.worstBacklogAt);
    moment(former.firstSlipAt, now.firstSlipAt);
    const auto wholeMs = [](double seconds) { return std::lround(seconds * 1000); };
    differs = differs || wholeMs(former.p99) != wholeMs(now.p99) ||
              wholeMs(former.max) != wholeMs(now.max) ||
              wholeMs(former.worstBacklogSeconds) != wholeMs(now.worstBacklogSeconds) ||
              std::lround(former.worstBacklogBytes) != std::lround(now.worstBacklogBytes);
  }
  void Add(const Comparison& other) {
    difference = std::max(difference, other.difference);
    earlierTies += other.earlierTies;
    differs = differs || other.differs;
  }
  std::string Text() const {
    if (differs) return "DIFFER";
    if (difference == 0 && earlierTies == 0) return "same";
    char text[96];
    std::snprintf(text, sizeof text, "same ms, within %.3g ns, %d moment(s) an earlier tie",
                  difference * 1e9, earlierTies);
    return text;
  }
};

double SecondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// The flush step each message is written on by the batching rule with
// `early`, in the rows' order.
std::vector<std::int64_t> WriteSteps(std::span<const playback::LineMessage> messages,
                                     std::span<const playback::EarlyRow> early) {
  std::vector<std::int64_t> steps;
  std::int64_t encodedAt = 0;
  std::size_t next = 0;
  for (std::size_t i = 0; i < messages.size(); ++i) {
    std::int64_t position = messages[i].due;
    if (next < early.size() && early[next].index == i) position = early[next++].position;
    encodedAt = std::max(encodedAt, position);
    if (messages[i].bytes > 0) {
      steps.push_back(encodedAt <= playback::kFlushStep
                          ? playback::kFlushStep
                          : (encodedAt + playback::kFlushStep - 1) / playback::kFlushStep *
                                playback::kFlushStep);
    }
  }
  return steps;
}

// The import's window: once the table is saved it makes the line report, as
// the window and `glimmer compile` do, and times it, the former way too.
class TimingWindow : public importer::CompileWindow {
 public:
  explicit TimingWindow(bool bitmask) : bitmask_(bitmask) {}
  void SetStatus(const std::string&) override {}
  bool PerformBitmask() const override { return bitmask_; }
  std::function<void()> SequenceCompiled(const sequence_format::EventTable& table) override {
    const auto start = Clock::now();
    // Which goes first alternates, so neither always finds the table warm.
    for (int k = 0; k < 2; ++k) {
      if ((k == 0) == formerFirst_) {
        const auto t = Clock::now();
        former = former::PlanLine(table);
        formerSeconds = SecondsSince(t);
      } else {
        const auto t = Clock::now();
        now = playback::PlanLine(table);
        nowSeconds = SecondsSince(t);
      }
    }
    formerFirst_ = !formerFirst_;
    // Where the time goes now.
    auto t = Clock::now();
    const std::vector<playback::LineMessage> messages = playback::LineMessagesOf(table);
    walkSeconds = SecondsSince(t);
    planSeconds = simulateSeconds = 0;
    plansDiffer = 0;
    for (const int baud : {56000, 115200}) {
      t = Clock::now();
      const auto early = playback::PlanEarlySending(messages, baud);
      planSeconds += SecondsSince(t);
      t = Clock::now();
      playback::SimulatePlayback(messages, baud, early);
      simulateSeconds += SecondsSince(t);
      // The rows the player sends early, and where, as the former plan had them.
      const auto formerEarly = former::PlanEarlySending(messages, baud);
      // Rows written on another flush step than the former plan had them.
      const auto formerSteps = WriteSteps(messages, former::PlanEarlySending(messages, baud));
      const auto steps = WriteSteps(messages, early);
      for (std::size_t i = 0; i < steps.size(); ++i) plansDiffer += steps[i] != formerSteps[i];
    }
    inReport = SecondsSince(start);
    // And as the import makes it: beside the writing of the file, on threads
    // of their own. What the import waits for is the reading of the rows
    // and whatever is left once the file is saved.
    const auto asideStart = Clock::now();
    std::shared_future<playback::ImportLineReport> aside = playback::PlanLineAside(table);
    waitedSeconds = SecondsSince(asideStart);
    return [this, aside] {
      const auto t = Clock::now();
      aside.wait();
      waitedSeconds += SecondsSince(t);
    };
  }

  playback::ImportLineReport former;
  playback::ImportLineReport now;
  double formerSeconds = 0;
  double nowSeconds = 0;
  double walkSeconds = 0;
  double planSeconds = 0;
  double simulateSeconds = 0;
  double inReport = 0;
  double waitedSeconds = 0;
  std::size_t plansDiffer = 0;

 private:
  bool bitmask_;
  bool formerFirst_ = true;
};

// The best of several runs of each part, for one show.
struct Cost {
  double compile = std::numeric_limits<double>::infinity();
  double former = std::numeric_limits<double>::infinity();
  double now = std::numeric_limits<double>::infinity();
  double walk = std::numeric_limits<double>::infinity();
  double plan = std::numeric_limits<double>::infinity();
  double simulate = std::numeric_limits<double>::infinity();
  // What the import waits for the report it makes beside the file's writing.
  double waited = std::numeric_limits<double>::infinity();
  // Between the former report and this one, and the planned rows that differ.
  Comparison figures;
  std::size_t plansDiffer = 0;
  // The whole `glimmer compile` command in a fresh process, with the line
  // report and without it.
  double command = std::numeric_limits<double>::infinity();
  double commandWithout = std::numeric_limits<double>::infinity();
};

// Seconds `glimmer compile` of `document` takes as a whole command, from its
// start to its exit; nullopt when it fails.
std::optional<double> TimeCompileCommand(const std::string& glimmer, const std::string& document,
                                         const std::string& audio, const std::string& cache,
                                         bool merge, bool withReport) {
  const auto start = Clock::now();
  const pid_t child = fork();
  if (child == 0) {
    const int quiet = open("/dev/null", O_WRONLY);
    dup2(quiet, STDOUT_FILENO);
    dup2(quiet, STDERR_FILENO);
    if (!withReport) setenv("GLIMMER_BENCH_WITHOUT_LINE_REPORT", "1", 1);
    if (merge) {
      execl(glimmer.c_str(), glimmer.c_str(), "compile", "--bitmask", "--audio", audio.c_str(),
            document.c_str(), cache.c_str(), static_cast<char*>(nullptr));
    } else {
      execl(glimmer.c_str(), glimmer.c_str(), "compile", "--audio", audio.c_str(), document.c_str(),
            cache.c_str(), static_cast<char*>(nullptr));
    }
    _exit(127);
  }
  if (child < 0) return std::nullopt;
  int status = 0;
  waitpid(child, &status, 0);
  const double seconds = SecondsSince(start);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return std::nullopt;
  return seconds;
}

class QuietUi : public platform::UserInterface {
 public:
  void ShowMessage(const std::string& text) override { std::fprintf(stderr, "%s\n", text.c_str()); }
  std::optional<std::string> ShowOpenDialog(const std::string&, const std::string&,
                                            const std::string&, const std::string&) override {
    return std::nullopt;
  }
  void DoEvents() override {}
  void SetHourglass(bool) override {}
};

double Ms(double seconds) {
  return seconds * 1000;
}

struct Figures {
  playback::LineReport report;
};

// Whether a case meets the targets. A floor under one flush step cannot be
// met where the line carries every batch in its own step: those batches keep
// their write moments on the flush steps, and the wait for the step alone
// (0 to 5.8 ms) is more than E. Such misses say so.
std::string Verdict(bool merge, const playback::LineReport& r) {
  if (!merge) return "";
  if (r.max <= r.floor + kStepMs / 1000 + 1e-9 && r.p99 <= r.floor + 1e-9) return "meets";
  if (r.floor < kStepMs / 1000) return "MISSES: flush step bound (E < 5.8 ms)";
  return "MISSES";
}

void PrintRow(const char* show, bool merge, int baud, const char* which,
              const playback::LineReport& r, const std::string& note = "") {
  const double ratio = r.floor > 0 ? r.max / r.floor : 0;
  std::printf("%-20s %-5s %6d %-11s %7.1f %7.1f %8.1f %9.1f %8.1f %7.1f %6.2f  %s%s\n", show,
              merge ? "on" : "off", baud, which, Ms(r.p50), Ms(r.p99), Ms(r.max), Ms(r.earliest),
              Ms(r.worstBacklogSeconds), Ms(r.floor), ratio, Verdict(merge, r).c_str(),
              note.c_str());
}

// ---- the real player's writes on a pseudo-terminal ----

// What a reader saw on the line: the bytes in one preallocated block and, for
// every read, when it returned and where its bytes are.
struct Stamp {
  Clock::time_point at;
  std::uint32_t offset;
  std::uint32_t length;
};

// Stamps what the player writes without ever holding it up: memory is set
// aside before the player starts, a read costs no allocation and no lock,
// and the thread runs at the player's own real-time priority where it may
// (never above it), so that ordinary programs do not delay its stamps.
class LineRecorder {
 public:
  LineRecorder(int master, std::size_t bytes, std::size_t reads)
      : master_(master), bytes_(bytes), stamps_(reads) {}
  void Run() {
    sched_param param{};
    param.sched_priority = platform::kDispatchRealtimePriority;
    realtime.store(pthread_setschedparam(pthread_self(), SCHED_FIFO, &param) == 0);
    for (;;) {
      pollfd p{master_, POLLIN, 0};
      const int ready = poll(&p, 1, 20);
      if (ready == 0) {
        if (done.load()) return;
        continue;
      }
      if (ready < 0 || used_ == bytes_.size() || count_ == stamps_.size()) {
        full_ = ready > 0;
        return;
      }
      const ssize_t n = read(master_, bytes_.data() + used_, bytes_.size() - used_);
      const auto at = Clock::now();
      if (n <= 0) return;
      stamps_[count_++] = {at, static_cast<std::uint32_t>(used_), static_cast<std::uint32_t>(n)};
      used_ += static_cast<std::size_t>(n);
    }
  }
  std::span<const unsigned char> Bytes() const { return {bytes_.data(), used_}; }
  std::span<const Stamp> Stamps() const { return {stamps_.data(), count_}; }
  bool Full() const { return full_; }
  std::atomic<bool> done{false};
  std::atomic<bool> realtime{false};

 private:
  int master_;
  std::vector<unsigned char> bytes_;
  std::vector<Stamp> stamps_;
  std::size_t used_ = 0;
  std::size_t count_ = 0;
  bool full_ = false;
};

// The frame timing `glimmer play` plays with, and its lead in positions.
constexpr int kPlayFrameTiming = 5;
constexpr std::int64_t kPlayLead = kPlayFrameTiming * playback::kFrameTimingStep;

// The flush step the player writes a row on, by the same rule it plays by.
std::int64_t WriteStep(std::int64_t position) {
  using playback::kFlushStep;
  return position <= kFlushStep ? kFlushStep
                                : (position + kFlushStep - 1) / kFlushStep * kFlushStep;
}

struct Played {
  playback::LineReport report;
  std::size_t unmatched = 0;  // messages that were not the next row's
  std::size_t lateSteps = 0;  // messages written a flush step or more after their planned one
  bool realtimeReader = false;
  bool ran = false;
};

// `glimmer play` of `cache` on a pseudo-terminal at `baud`; its writes, as
// stamped, go through the line model. The song's start in the reader's time
// is not known to this process: every message's stamp minus the moment of
// the flush step the player plans it on is the start plus that write's
// delay, so the least of them over all messages is the start plus the
// player's least delay, which can make every figure a little early by that.
Played PlayOnPty(const std::string& glimmer, const std::string& cache, const std::string& song,
                 int baud, std::span<const playback::LineMessage> messages, std::int64_t end,
                 double floor) {
  Played played;
  termios raw{};
  cfmakeraw(&raw);
  int master = -1;
  int slave = -1;
  if (openpty(&master, &slave, nullptr, &raw, nullptr) != 0) return played;
  const std::string device = ttyname(slave);
  LineRecorder recorder(master, 64U << 20, 1U << 20);
  std::thread reader([&recorder] { recorder.Run(); });
  const std::string rate = std::to_string(baud);
  const pid_t child = fork();
  if (child == 0) {
    const int quiet = open("/dev/null", O_WRONLY);
    dup2(quiet, STDOUT_FILENO);
    dup2(quiet, STDERR_FILENO);
    execl(glimmer.c_str(), glimmer.c_str(), "play", "--device", device.c_str(), "--baud",
          rate.c_str(), "--silent", cache.c_str(), song.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  int status = 0;
  if (child > 0) waitpid(child, &status, 0);
  recorder.done = true;
  reader.join();
  close(slave);
  close(master);
  played.realtimeReader = recorder.realtime.load();
  played.ran = child > 0 && WIFEXITED(status) && WEXITSTATUS(status) == 0 && !recorder.Full();
  if (!played.ran) return played;

  // Which row each message is and where the player writes it.
  const auto early = playback::PlanEarlySending(messages, baud);
  struct Sent {
    double at;  // seconds in the reader's time
    std::size_t bytes;
    std::int64_t due;  // -1: not an event
    std::int64_t step;
  };
  std::vector<Sent> sent;
  const auto bytes = recorder.Bytes();
  const auto stamps = recorder.Stamps();
  const Clock::time_point zero = stamps.empty() ? Clock::now() : stamps.front().at;
  std::size_t stamp = 0;
  std::size_t row = 0;
  std::size_t nextEarly = 0;
  std::int64_t encodedAt = 0;
  for (std::size_t at = 0; at + 3 <= bytes.size();) {
    while (stamp + 1 < stamps.size() && stamps[stamp].offset + stamps[stamp].length <= at) ++stamp;
    const double when = std::chrono::duration<double>(stamps[stamp].at - zero).count();
    if (bytes[at] != 0) {
      ++played.unmatched;
      ++at;
      continue;
    }
    if (bytes[at + 1] == 0xFF && (bytes[at + 2] == 0x41 || bytes[at + 2] == 0x81)) {
      sent.push_back({when, 4, -1, 0});
      at += 4;
      continue;
    }
    const auto* command = playback::FindCommandByByte(bytes[at + 2]);
    if (!command) {
      ++played.unmatched;
      ++at;
      continue;
    }
    const auto length = static_cast<std::size_t>(command->Length());
    for (; row < messages.size(); ++row) {
      std::int64_t position = messages[row].due;
      if (nextEarly < early.size() && early[nextEarly].index == row) {
        position = early[nextEarly++].position;
      }
      encodedAt = std::max(encodedAt, position);
      if (messages[row].bytes > 0) break;
    }
    if (row == messages.size() || static_cast<std::size_t>(messages[row].bytes) != length) {
      ++played.unmatched;
      sent.push_back({when, length, -1, 0});
    } else {
      sent.push_back({when, length, messages[row].due, WriteStep(encodedAt)});
      ++row;
    }
    at += length;
  }
  // Until the song is heard the position stands at the lead, so every flush
  // step up to it is passed at once, before the start; when the song ends,
  // what was encoded goes out at once, before its step. Only the steps in
  // between follow the song's clock, and only their rows are judged.
  // A player that fell behind by more than a step catches up one step a
  // pass and writes what it encodes meanwhile at once, before the step the
  // plan names: the least hundredth of the differences is left out for those.
  const auto judged = [&](const Sent& s) {
    return s.due >= 0 && s.step > kPlayLead && s.due < end;
  };
  std::vector<double> starts;
  for (const Sent& s : sent) {
    if (judged(s)) starts.push_back(s.at - s.step / 88200.0);
  }
  if (starts.empty()) return played;
  const auto least = starts.begin() + static_cast<std::ptrdiff_t>(starts.size() / 100);
  std::nth_element(starts.begin(), least, starts.end());
  const double songStart = *least;
  playback::SerialLineModel line(baud);
  std::vector<double> lateness;
  for (const Sent& s : sent) {
    const double arrival = line.Write(s.at - songStart, s.bytes);
    if (!judged(s)) continue;
    lateness.push_back(arrival - s.due / 88200.0);
    // Half a step after the planned one is past any scheduling delay here.
    if (s.at - songStart - s.step / 88200.0 > kStepMs / 2000) ++played.lateSteps;
  }
  played.report.baud = baud;
  played.report.floor = floor;
  played.report.messages = lateness.size();
  if (lateness.empty()) return played;
  std::sort(lateness.begin(), lateness.end());
  const auto rank = [&](double fraction) {
    const auto r = static_cast<std::size_t>(std::ceil(fraction * lateness.size()));
    return lateness[r == 0 ? 0 : r - 1];
  };
  played.report.p50 = rank(0.5);
  played.report.p99 = rank(0.99);
  played.report.max = lateness.back();
  played.report.earliest = lateness.front();
  return played;
}

}  // namespace

int main(int argc, char** argv) {
  long seconds = 120;
  int repeat = 5;
  long playSeconds = 10;
  std::string glimmer = (fs::path(argv[0]).parent_path() / "glimmer").string();
  std::string glimmerBefore;
  std::string keep;
  std::string only;  // one show by its name, e.g. "16 ctl pop"
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--seconds" && i + 1 < argc) {
      seconds = std::atol(argv[++i]);
    } else if (arg == "--repeat" && i + 1 < argc) {
      repeat = std::max(1, std::atoi(argv[++i]));
    } else if (arg == "--play-seconds" && i + 1 < argc) {
      playSeconds = std::atol(argv[++i]);
    } else if (arg == "--glimmer" && i + 1 < argc) {
      glimmer = argv[++i];
    } else if (arg == "--glimmer-before" && i + 1 < argc) {
      glimmerBefore = argv[++i];
    } else if (arg == "--only" && i + 1 < argc) {
      only = argv[++i];
    } else if (arg == "--keep" && i + 1 < argc) {
      keep = argv[++i];
    } else {
      std::fprintf(
          stderr,
          "Usage: bench_line_timing [--seconds N] [--repeat N] [--play-seconds N]\n"
          "                         [--glimmer PATH] [--glimmer-before PATH] [--keep DIR]\n"
          "                         [--only SHOW]\n");
      return 2;
    }
  }
  const fs::path dir =
      keep.empty() ? fs::temp_directory_path() / "glimmer-bench-line-timing" : fs::path(keep);
  fs::create_directories(dir);
  const std::string audio = (dir / "song.wav").string();
  const auto frames = static_cast<std::uint32_t>(std::max(playSeconds, 1L) * 8000);
  if (auto written =
          platform::PosixFileStore().ReplaceFile(audio, binary::SilentWav(8000, 1, frames));
      !written) {
    std::fprintf(stderr, "cannot write %s: %s\n", audio.c_str(), written.message().c_str());
    return 1;
  }
  const bool play = playSeconds > 0 && fs::exists(glimmer);

  struct Kind {
    const char* name;
    std::function<Show(int, long)> make;
    int controllers;
  };
  const Kind kinds[] = {
      {"8 ctl pop", Pop, 8},
      {"16 ctl pop", Pop, 16},
      {"16 ctl beat pulses", Pulses, 16},
      {"8 ctl 50 ms chases", Chases, 8},
      {"16 ctl 50 ms chases", Chases, 16},
      {"16 ctl sparkle", Sparkle, 16},
      {"16 ctl calm", Calm, 16},
  };
  const long length = seconds * 88200;
  const sequence_format::FadeTimingTable& fadeTimings = sequence_format::kFadeTimingTable;
  platform::PosixFileStore files;
  QuietUi ui;

  std::printf(
      "Lateness at the controller through the line model (ms; negative = early).\n"
      "before = the batching rule as the player sent until now; after = with early "
      "sending.\n%ld s songs, 120 bpm, 50 ms grid.\n\n",
      seconds);
  if (play) {
    std::printf(
        "play before/after = the real `glimmer play --silent` writes on a pseudo-terminal "
        "(%s / %s),\nstamped by a reader at the player's real-time priority (where it may), then "
        "through the line model; "
        "merge on, the first %ld s of each song, E of that part.\n",
        glimmerBefore.empty() ? "no before given" : glimmerBefore.c_str(), glimmer.c_str(),
        playSeconds);
  }
  std::printf("%-20s %-5s %6s %-11s %7s %7s %8s %9s %8s %7s %6s\n", "show", "merge", "baud", "",
              "p50", "p99", "max", "earliest", "backlog", "E", "max/E");
  Cost total{.compile = 0,
             .former = 0,
             .now = 0,
             .walk = 0,
             .plan = 0,
             .simulate = 0,
             .waited = 0,
             .figures = {},
             .plansDiffer = 0,
             .command = 0,
             .commandWithout = 0};
  std::vector<std::pair<std::string, Cost>> costs;
  for (const Kind& kind : kinds) {
    if (!only.empty() && kind.name != only) continue;
    const Show show = kind.make(kind.controllers, length);
    const std::string document = (dir / "bench.xml").string();
    WriteDocument(document, show, audio);
    for (const bool merge : {true, false}) {
      TimingWindow window(merge);
      const std::string cache =
          (dir / (std::string(merge ? "merged-" : "plain-") + "bench.csq")).string();
      Cost cost;
      playback::ImportLineReport importReport;
      for (int run = 0; run < repeat; ++run) {
        std::string audioFile;
        std::string title;
        const auto compileStart = Clock::now();
        importer::CompileSequence(document, cache, audioFile, title,
                                  importer::CompileServices{window, ui, files, fadeTimings, ""});
        const double compiled = SecondsSince(compileStart) - window.inReport - window.waitedSeconds;
        if (audioFile.empty()) {
          std::fprintf(stderr, "compile failed\n");
          return 1;
        }
        cost.compile = std::min(cost.compile, compiled);
        cost.former = std::min(cost.former, window.formerSeconds);
        cost.now = std::min(cost.now, window.nowSeconds);
        cost.walk = std::min(cost.walk, window.walkSeconds);
        cost.plan = std::min(cost.plan, window.planSeconds);
        cost.simulate = std::min(cost.simulate, window.simulateSeconds);
        cost.waited = std::min(cost.waited, window.waitedSeconds);
        cost.figures.Add(window.former.at56000, window.now.at56000);
        cost.figures.Add(window.former.at115200, window.now.at115200);
        cost.plansDiffer = std::max(cost.plansDiffer, window.plansDiffer);
        importReport = window.now;
      }
      // What the user waits for: the whole command, with and without the
      // report in turn, best of as many runs.
      if (fs::exists(glimmer)) {
        const std::string commandCache = (dir / "command.csq").string();
        for (int run = 0; run < repeat; ++run) {
          for (const bool withReport : {run % 2 == 0, run % 2 != 0}) {
            const auto took =
                TimeCompileCommand(glimmer, document, audio, commandCache, merge, withReport);
            if (!took) {
              std::fprintf(stderr, "%s compile %s failed\n", glimmer.c_str(), document.c_str());
              return 1;
            }
            double& best = withReport ? cost.command : cost.commandWithout;
            best = std::min(best, *took);
          }
        }
      }
      costs.emplace_back(std::string(kind.name) + (merge ? ", merge on" : ", merge off"), cost);
      total.compile += cost.compile;
      total.former += cost.former;
      total.now += cost.now;
      total.walk += cost.walk;
      total.command += cost.command;
      total.commandWithout += cost.commandWithout;
      total.plan += cost.plan;
      total.simulate += cost.simulate;
      total.waited += cost.waited;
      total.figures.Add(cost.figures);
      total.plansDiffer += cost.plansDiffer;
      auto loaded = sequence_format::LoadSequenceCache(cache);
      if (!loaded) {
        std::fprintf(stderr, "%s\n", loaded.message().c_str());
        return 1;
      }
      sequence_format::EventTable table = std::move(loaded).value();
      const std::vector<playback::LineMessage> messages = playback::LineMessagesOf(table);
      for (const int baud : {56000, 115200}) {
        const playback::LineReport before = playback::SimulatePlayback(messages, baud);
        const auto early = playback::PlanEarlySending(messages, baud);
        const playback::LineReport after = playback::SimulatePlayback(messages, baud, early);
        PrintRow(kind.name, merge, baud, "before", before);
        PrintRow(kind.name, merge, baud, "after", after,
                 "  [" + std::to_string(early.size()) + " rows early]");
        if (!play || !merge) continue;
        // The part of the song that is played, with the lead `glimmer play` uses.
        const std::int64_t end = playSeconds * 88200;
        const auto playedEnd = std::find_if(messages.begin(), messages.end(),
                                            [&](const auto& m) { return m.due >= end; });
        const std::span<const playback::LineMessage> part(messages.begin(), playedEnd);
        const double floor = playback::PhysicalFloorSeconds(part, baud, kPlayFrameTiming);
        const auto run = [&](const std::string& program, const char* which) {
          const Played played = PlayOnPty(program, cache, audio, baud, messages, end, floor);
          if (!played.ran) {
            std::printf("%-20s %-5s %6d %-11s did not play to its end (%s)\n", kind.name, "on",
                        baud, which, program.c_str());
            return;
          }
          char late[64];
          std::snprintf(late, sizeof late, "  [%.1f %% a step or more after plan%s]",
                        100.0 * static_cast<double>(played.lateSteps) /
                            static_cast<double>(std::max<std::size_t>(played.report.messages, 1)),
                        played.realtimeReader ? "" : ", ordinary-priority reader");
          PrintRow(
              kind.name, merge, baud, which, played.report,
              late + (played.unmatched ? "  [" + std::to_string(played.unmatched) + " unmatched]"
                                       : std::string()));
        };
        if (!glimmerBefore.empty()) run(glimmerBefore, "play before");
        run(glimmer, "play after");
      }
      if (merge) {
        std::printf("  import report (merge on), as the import gives it:\n%s",
                    playback::FormatLineReport(importReport, 56000, true).c_str());
      }
    }
  }
  std::printf(
      "\nImport report cost, best of %d compiles each (ms; %% of the compile it follows):\n"
      "%-26s %9s %9s %7s %9s %7s %7s %7s %9s %9s %7s  %s\n",
      repeat, "show", "compile", "before", "%", "after", "%", "walk", "plan", "simulate", "waited",
      "%", "figures");
  const auto costRow = [](const std::string& name, const Cost& c) {
    std::printf(
        "%-26s %9.2f %9.3f %6.2f%% %9.3f %6.2f%% %7.3f %7.3f %9.3f %9.3f %6.2f%%  %s; plan %s\n",
        name.c_str(), Ms(c.compile), Ms(c.former), 100 * c.former / c.compile, Ms(c.now),
        100 * c.now / c.compile, Ms(c.walk), Ms(c.plan), Ms(c.simulate), Ms(c.waited),
        100 * c.waited / c.compile, c.figures.Text().c_str(),
        c.plansDiffer == 0 ? "same" : (std::to_string(c.plansDiffer) + " rows differ").c_str());
  };
  for (const auto& [name, cost] : costs) costRow(name, cost);
  costRow("all", total);
  std::printf(
      "figures: the former computation summed seconds in floating point, this one counts the\n"
      "line's time exactly in integers; \"same ms\" = every whole millisecond, byte and count\n"
      "of the report is the same. plan: rows written on another flush step than the former\n"
      "plan had them, where the former rounding tipped a comparison the exact clock\n"
      "decides the other way (a burst that exactly fills its step, a start exactly on a step).\n"
      "after: the report's work, made in line; waited: what the import itself waits for it,\n"
      "made as the import makes it, beside the writing of the file on threads of its own.\n");
  std::printf(
      "Import report cost: before %.2f %% of the compile, after %.2f %% of work, %.2f %% waited"
      "   [target <= 2 %%]\n",
      100 * total.former / total.compile, 100 * total.now / total.compile,
      100 * total.waited / total.compile);
  if (std::isfinite(total.command)) {
    std::printf(
        "\nThe whole `glimmer compile --audio WAV DOCUMENT CACHE` (--bitmask for merge on), "
        "fresh processes,\nwith the report and without it taking turns, best of %d each (ms):\n"
        "%-26s %9s %9s %7s\n",
        repeat, "show", "with", "without", "report");
    const auto commandRow = [](const std::string& name, const Cost& c) {
      std::printf("%-26s %9.1f %9.1f %6.2f%%\n", name.c_str(), Ms(c.command), Ms(c.commandWithout),
                  100 * (c.command - c.commandWithout) / c.commandWithout);
    };
    for (const auto& [name, cost] : costs) commandRow(name, cost);
    commandRow("all", total);
    std::printf("Import report cost in the whole command: %.2f %% of `glimmer compile`\n",
                100 * (total.command - total.commandWithout) / total.commandWithout);
  }
  if (keep.empty()) fs::remove_all(dir);
  return 0;
}
