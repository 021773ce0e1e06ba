// How close to its moment each controller message reaches the line when a
// long, dense sequence plays: the show player with the real serial port on a
// pseudo-terminal and the silent (steady-clock) audio player, exactly as
// `glimmer play --silent` runs it. A reader thread stamps every message as it
// arrives; the figures compare each stamp with the moment the message was due.
//
// Targets: nothing lost, duplicated or reordered; lateness p99 <= 6 ms,
// maximum <= 15 ms.
//
// Usage: bench_playback_latency [--seconds N] [--frame-timing N] [--busy] [--web]
//                               [--keep DIR]
//   --seconds N   length of the song and sequence (default 600: ten minutes)
//   --busy        keep every core busy meanwhile with busy loops of its own
//                 (one process per core, ended with the run)
//   --web         serve the phone page from the player's yields, as `glimmer
//                 show` does, while a client process asks for /api/status 50
//                 times a second (one address gets 10 a second; the rest are
//                 refused as too many), keeps ten idle connections open and
//                 sends one more request a byte a second
//   --keep DIR    write the sequence (bench.csq) and song (bench.wav) to DIR and
//                 keep them, e.g. for `glimmer play`
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <pthread.h>
#include <pty.h>
#include <sched.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "bench/dense_sequence.h"
#include "binary/wav_writer.h"
#include "platform/audio/portaudio_audio_player.h"
#include "platform/log_file.h"
#include "platform/posix/line_output.h"
#include "platform/posix/posix_file_store.h"
#include "platform/posix/realtime_priority.h"
#include "platform/posix/system_clock.h"
#include "platform/posix/termios_serial_port.h"
#include "platform/posix/unique_fd.h"
#include "playback/line_model.h"
#include "playback/show_session.h"
#include "playback/wire_protocol.h"
#include "sequence_format/event_table.h"
#include "sequence_format/fade_timing.h"
#include "sequence_format/sequence_cache.h"
#include "tools/glimmer/console_show_window.h"
#include "web/api.h"
#include "web/web_server.h"

namespace {

using Clock = std::chrono::steady_clock;
using bench::MakeSequence;
using bench::Percentile;
using bench::TimedPort;
using sequence_format::Column;
using Record = bench::Record;

struct Arrival {
  Clock::time_point at;
  std::string bytes;
};

double Ms(Clock::duration d) {
  return std::chrono::duration<double, std::milli>(d).count();
}

double CpuSeconds(const rusage& u) {
  return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// Counts the player's passes: each reads the position once.
class CountingAudio final : public platform::AudioPlayer {
 public:
  explicit CountingAudio(platform::AudioPlayer& inner) : inner_(inner) {}
  platform::Status Open(const std::string& path) override { return inner_.Open(path); }
  int PlayState() override { return inner_.PlayState(); }
  double PositionSeconds() override {
    ++reads;
    return inner_.PositionSeconds();
  }
  double DurationSeconds() override { return inner_.DurationSeconds(); }
  void Stop() override { inner_.Stop(); }
  void Close() override { inner_.Close(); }
  bool IsSilent() const override { return inner_.IsSilent(); }
  std::string SilentReason() const override { return inner_.SilentReason(); }
  long reads = 0;

 private:
  platform::AudioPlayer& inner_;
};

// One spinning process per core, each ending by itself after `seconds` (or
// with this program).
std::vector<pid_t> StartBusyLoops(int seconds) {
  std::vector<pid_t> children;
  const long cores = sysconf(_SC_NPROCESSORS_ONLN);
  for (long i = 0; i < cores; ++i) {
    const pid_t pid = fork();
    if (pid == 0) {
      prctl(PR_SET_PDEATHSIG, SIGKILL);
      const auto end = Clock::now() + std::chrono::seconds(seconds);
      volatile unsigned long spin = 0;
      while (Clock::now() < end) {
        for (int k = 0; k < 100000; ++k) spin = spin + 1;
      }
      _exit(0);
    }
    if (pid > 0) children.push_back(pid);
  }
  return children;
}

// The page's view of the benchmark's one entry, read as `glimmer show`
// reads its show: the audio position at every status request.
class BenchShowView final : public web::StatusSource, public web::ControlSink {
 public:
  explicit BenchShowView(platform::AudioPlayer& audio) : audio_(audio) {}
  web::ShowStatus Status() override {
    web::ShowStatus s;
    s.state = web::ShowState::Running;
    s.statusText = "Show Running... Press Stop To Stop The Show And/Or Change Settings";
    s.playing = web::PlayingView{{0, "bench"}, audio_.PositionSeconds(), audio_.DurationSeconds()};
    s.next = web::EntryView{0, "bench"};
    return s;
  }
  std::vector<playback::NightSummary> Nights(int) override { return {}; }
  platform::Status Start(std::string_view) override { return platform::Status::Ok(); }
  platform::Status Stop(std::string_view) override { return platform::Status::Ok(); }
  platform::Status StopAfterSong(std::string_view) override { return platform::Status::Ok(); }
  platform::Status Skip(std::string_view) override { return platform::Status::Ok(); }

 private:
  platform::AudioPlayer& audio_;
};

// What the client process saw, in memory it shares with this one.
struct ClientFigures {
  std::atomic<long> answered{0};
  std::atomic<long> failed{0};
  std::atomic<long> refused{0};  // 429: more than one address may ask
  std::atomic<long> slowCut{0};  // the byte-a-second request, dropped by the server
  std::atomic<long> idleReopened{0};
  std::atomic<long> worstMicros{0};
};

int ConnectTo(int port) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(static_cast<std::uint16_t>(port));
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(fd, reinterpret_cast<const sockaddr*>(&to), sizeof to) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

// Whether the server has closed `fd` (reads what it sent meanwhile).
bool ClosedByServer(int fd) {
  pollfd p{fd, POLLIN, 0};
  if (poll(&p, 1, 0) != 1) return false;
  char buffer[4096];
  return recv(fd, buffer, sizeof buffer, MSG_DONTWAIT) <= 0;
}

// The client process: 50 status requests a second, ten idle connections and
// one request trickled a byte a second, until it is killed.
pid_t StartWebClient(int port, ClientFigures* figures) {
  const pid_t pid = fork();
  if (pid != 0) return pid;
  prctl(PR_SET_PDEATHSIG, SIGKILL);
  std::vector<int> idle;
  for (int i = 0; i < 10; ++i) idle.push_back(ConnectTo(port));
  const std::string trickle =
      "GET /api/status HTTP/1.1\r\nHost: 127.0.0.1\r\nX-Slow: " + std::string(4000, 'z') +
      "\r\n\r\n";
  int slow = ConnectTo(port);
  std::size_t slowAt = 0;
  auto nextByte = Clock::now();
  auto next = Clock::now();
  const std::string request =
      "GET /api/status HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n";
  for (;;) {
    next += std::chrono::milliseconds(20);
    const auto asked = Clock::now();
    const int fd = ConnectTo(port);
    bool ok = false;
    std::string got;
    if (fd >= 0 && send(fd, request.data(), request.size(), MSG_NOSIGNAL) ==
                       static_cast<ssize_t>(request.size())) {
      char buffer[4096];
      for (;;) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 2000) != 1) break;
        const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0) break;
        got.append(buffer, static_cast<std::size_t>(n));
      }
      ok = got.compare(0, 12, "HTTP/1.1 200") == 0 && got.find("\"state\"") != std::string::npos;
    }
    if (fd >= 0) close(fd);
    const long micros = static_cast<long>(
        std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - asked).count());
    const bool tooMany = !ok && got.compare(0, 12, "HTTP/1.1 429") == 0;
    (ok ? figures->answered : tooMany ? figures->refused : figures->failed)++;
    if (ok && micros > figures->worstMicros) figures->worstMicros = micros;
    for (int& c : idle) {
      if (c < 0 || ClosedByServer(c)) {
        if (c >= 0) close(c);
        c = ConnectTo(port);
        figures->idleReopened++;
      }
    }
    if (Clock::now() >= nextByte) {
      nextByte += std::chrono::seconds(1);
      if (slow < 0 || ClosedByServer(slow) ||
          send(slow, trickle.data() + slowAt, 1, MSG_NOSIGNAL) != 1) {
        if (slow >= 0) {
          close(slow);
          figures->slowCut++;
        }
        slow = ConnectTo(port);
        slowAt = 0;
      } else {
        slowAt = (slowAt + 1) % trickle.size();
      }
    }
    std::this_thread::sleep_until(next);
  }
}

double LoadAverage() {
  double load[1] = {0};
  return getloadavg(load, 1) == 1 ? load[0] : 0.0;
}

}  // namespace

int main(int argc, char** argv) {
  int seconds = 600;
  int frameTiming = 5;
  std::string keep;
  bool busy = false;
  bool webOn = false;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--seconds" && i + 1 < argc) {
      seconds = std::max(3, std::atoi(argv[++i]));
    } else if (a == "--frame-timing" && i + 1 < argc) {
      frameTiming = std::clamp(std::atoi(argv[++i]), 1, 10);
    } else if (a == "--busy") {
      busy = true;
    } else if (a == "--web") {
      webOn = true;
    } else if (a == "--keep" && i + 1 < argc) {
      keep = argv[++i];
    } else {
      std::fprintf(stderr,
                   "usage: %s [--seconds N] [--frame-timing N] [--busy] [--web] [--keep DIR]\n",
                   argv[0]);
      return 2;
    }
  }

  // ---- the entry: a sequence cache file and a song of the same length ----
  std::string dir = keep;
  if (dir.empty()) {
    char tmp[] = "/tmp/glimmer-bench-XXXXXX";
    if (!mkdtemp(tmp)) return 1;
    dir = tmp;
  }
  std::filesystem::create_directories(dir);
  const std::vector<Record> records = MakeSequence(seconds);
  playlist::PlaylistEntry entry;
  entry.CachePath = dir + "/bench.csq";
  entry.AudioPath = dir + "/bench.wav";
  entry.ListText = "bench";
  platform::PosixFileStore files;
  if (auto s = bench::WriteEntryFiles(records, seconds, entry, files); !s) {
    std::fprintf(stderr, "%s\n", s.message().c_str());
    return 1;
  }
  const sequence_format::FadeTimingTable& fadeTimings = sequence_format::kFadeTimingTable;
  const std::unordered_map<std::string, std::size_t> rowOfMessage =
      bench::RowOfMessage(records, seconds);
  std::printf("sequence: %zu rows over %d s (%zu distinct messages), frame timing %d\n",
              records.size(), seconds, rowOfMessage.size(), frameTiming);

  // ---- the line: a pseudo-terminal, read by a thread that stamps arrivals ----
  termios raw{};
  cfmakeraw(&raw);
  int masterFd = -1, slaveFd = -1;
  if (openpty(&masterFd, &slaveFd, nullptr, &raw, nullptr) != 0) {
    std::perror("openpty");
    return 1;
  }
  platform::UniqueFd master(masterFd), slave(slaveFd);
  const std::string slaveName = ttyname(slaveFd);
  std::vector<Arrival> arrivals;
  // A real UART sends from its interrupt handler; a reader thread that waits
  // behind other processes for a core would add its own delay to every figure.
  // Root may run it ahead of ordinary threads.
  bool readerRealtime = false;
  std::thread reader([&] {
    sched_param realtime{};
    realtime.sched_priority = 10;
    readerRealtime = pthread_setschedparam(pthread_self(), SCHED_FIFO, &realtime) == 0;
    char buffer[65536];
    for (;;) {
      pollfd p{master.get(), POLLIN, 0};
      if (poll(&p, 1, 60000) <= 0) return;
      const ssize_t n = read(master.get(), buffer, sizeof buffer);
      const auto at = Clock::now();
      if (n <= 0) return;  // EIO: the port side has closed
      arrivals.push_back({at, std::string(buffer, static_cast<std::size_t>(n))});
    }
  });

  // ---- the player, as `glimmer play --silent` builds it ----
  glimmer::FixedShowSettings settings({1, 56000, frameTiming, "12:00:00 AM", "11:59:59 PM"});
  glimmer::SingleEntry playlist(entry);
  platform::LineOutput errors(STDERR_FILENO);
  glimmer::ConsoleShowView quietView(errors, /*labelled=*/true, /*quiet=*/true);
  glimmer::NoShowLog noLog;
  bool running = true;
  glimmer::ConsoleUserInterface ui;
  Clock::time_point lastYield{}, audioStart{};
  Clock::duration longestYieldGap{};
  long yields = 0;
  ui.AddYieldHook([&] {
    const auto now = Clock::now();
    if (yields++ > 0) longestYieldGap = std::max(longestYieldGap, now - lastYield);
    lastYield = now;
  });
  bool captureStart = false;
  platform::PortAudioPlayer silentAudio({.silent = true, .now = [&] {
                                           const auto t = Clock::now();
                                           // The silent clock's zero is its first reading
                                           // after Open.
                                           if (captureStart) audioStart = t, captureStart = false;
                                           return t;
                                         }});
  CountingAudio audio(silentAudio);
  platform::TermiosSerialPort port({.applicationDirectory = "",
                                    .devicePath = slaveName,
                                    .stallTimeout = std::chrono::milliseconds(1000)});
  platform::SystemClock clock;
  TimedPort timedPort(port);
  playback::ShowSession session({timedPort, audio, ui, clock, noLog, platform::LocalDateTime},
                                {running, settings, playlist, quietView}, fadeTimings);
  // As glimmer play runs it: real-time where the system allows.
  struct : platform::DispatchPriority {
    bool Raise() override {
      raised = inner.Raise();
      policy = sched_getscheduler(0);
      return raised;
    }
    void Restore() override { inner.Restore(); }
    platform::RealtimePriority inner;
    bool raised = false;
    int policy = SCHED_OTHER;
  } dispatchPriority;
  session.SetDispatchPriority(&dispatchPriority);
  ui.onSignal = [&](int) { session.Stop(glimmer::kInterrupted); };

  // ---- the phone page, served from the player's yields ----
  BenchShowView view(audio);
  web::Api api(view, view, "bench-token", Clock::now, {});
  web::WebServer server(api);
  auto* clientFigures = static_cast<ClientFigures*>(mmap(
      nullptr, sizeof(ClientFigures), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0));
  new (clientFigures) ClientFigures;
  pid_t webClient = -1;
  if (webOn) {
    if (auto s = server.Listen({"127.0.0.1", 0}); !s) {
      std::fprintf(stderr, "%s\n", s.message().c_str());
      return 1;
    }
    ui.AddYieldHook([&server] { server.Poll(); });
    ui.WakeOn(server.WakeFd(), [&server] { server.Poll(); });
    webClient = StartWebClient(server.Port(), clientFigures);
  }

  if (auto s = session.OpenPort(); !s) {
    std::fprintf(stderr, "%s\n", s.message().c_str());
    return 1;
  }
  slave.Reset();  // the port holds the line now; its close ends the reader
  std::vector<pid_t> busyLoops;
  if (busy) busyLoops = StartBusyLoops(seconds + 5);
  rusage threadBefore{}, processBefore{};
  getrusage(RUSAGE_THREAD, &threadBefore);
  getrusage(RUSAGE_SELF, &processBefore);
  const auto wallBefore = Clock::now();
  captureStart = true;
  const auto outcome = session.PlayEntry(0);
  const auto wall = Clock::now() - wallBefore;
  rusage threadAfter{}, processAfter{};
  getrusage(RUSAGE_THREAD, &threadAfter);
  getrusage(RUSAGE_SELF, &processAfter);
  for (pid_t pid : busyLoops) kill(pid, SIGKILL);
  for (pid_t pid : busyLoops) waitpid(pid, nullptr, 0);
  if (webClient > 0) {
    kill(webClient, SIGKILL);
    waitpid(webClient, nullptr, 0);
  }
  session.ClosePort();
  reader.join();
  if (keep.empty()) std::filesystem::remove_all(dir);
  if (outcome != playback::PlayOutcome::Finished) {
    std::fprintf(stderr, "the entry did not finish: %s\n", quietView.LastNotice().c_str());
    return 1;
  }

  // ---- what arrived ----
  std::vector<int> timesReceived(records.size(), 0);
  std::vector<double> lateness;
  std::size_t outOfOrder = 0, unknownBytes = 0, keepAlives = 0, bursts = 0;
  long previousRow = -1;
  double earliest = 1e9;
  playback::MessageFramer framer;
  for (const auto& a : arrivals) {
    for (const playback::WireFrame& frame : framer.Feed(a.bytes)) {
      if (!frame.isMessage) {
        unknownBytes += frame.bytes.size();
        continue;
      }
      const std::string& message = frame.bytes;
      if (playback::IsFixedMessage(message)) {
        (message == playback::kPortOpenBurst ? bursts : keepAlives)++;
        continue;
      }
      const auto found = rowOfMessage.find(message);
      if (found == rowOfMessage.end()) {
        unknownBytes += message.size();
        continue;
      }
      const std::size_t row = found->second;
      ++timesReceived[row];
      if (static_cast<long>(row) < previousRow) ++outOfOrder;
      previousRow = std::max(previousRow, static_cast<long>(row));
      const std::int64_t sample = records[row].Get(Column::SampleNumber).value_or(0);
      const std::int64_t dueAt =
          std::max<std::int64_t>(0, sample - frameTiming * playback::kFrameTimingStep);
      const auto due =
          audioStart + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(
                           static_cast<double>(dueAt) / playback::kSamplesPerSecond));
      const double late = Ms(a.at - due);
      earliest = std::min(earliest, late);
      lateness.push_back(late);
    }
  }
  std::size_t lost = 0, duplicated = 0;
  for (int n : timesReceived) {
    if (n == 0) ++lost;
    if (n > 1) duplicated += static_cast<std::size_t>(n - 1);
  }

  // The same at the moment each write returned, and at the controller: those
  // writes through the model of a real line at the window's rate, which a
  // pseudo-terminal does not have.
  std::vector<double> writeLateness;
  std::vector<double> controllerLateness;
  const int baud = settings.CurrentSettings().baud;
  playback::SerialLineModel line(baud);
  for (const auto& [at, bytes] : timedPort.writes) {
    const double writtenAt = Ms(at - audioStart) / 1000;
    // Each write holds whole messages.
    playback::MessageFramer oneWrite;
    std::vector<playback::WireFrame> frames = oneWrite.Feed(bytes);
    for (playback::WireFrame& frame : oneWrite.Flush()) frames.push_back(std::move(frame));
    for (const playback::WireFrame& frame : frames) {
      const auto found = rowOfMessage.find(frame.bytes);
      const double arrives = line.Write(writtenAt, frame.bytes.size());
      if (found == rowOfMessage.end()) continue;
      const std::int64_t sample = records[found->second].Get(Column::SampleNumber).value_or(0);
      const std::int64_t dueAt =
          std::max<std::int64_t>(0, sample - frameTiming * playback::kFrameTimingStep);
      const double dueMs = 1000.0 * static_cast<double>(dueAt) / playback::kSamplesPerSecond;
      writeLateness.push_back(Ms(at - audioStart) - dueMs);
      controllerLateness.push_back(1000.0 * arrives - dueMs);
    }
  }

  const double p50 = Percentile(lateness, 0.50), p99 = Percentile(lateness, 0.99);
  const double worst = lateness.empty() ? 0 : *std::max_element(lateness.begin(), lateness.end());
  const double wallSeconds = std::chrono::duration<double>(wall).count();
  std::printf("line: %zu event messages, %zu port-open, %zu keep-alive, %zu stray bytes\n",
              lateness.size(), bursts, keepAlives, unknownBytes + framer.HeldBytes());
  std::printf("lost %zu, duplicated %zu, out of order %zu   [target 0, 0, 0]\n", lost, duplicated,
              outOfOrder);
  std::printf(
      "lateness vs due moment: median %.2f ms, p99 %.2f ms, max %.2f ms, earliest %.2f ms"
      "   [target p99 <= 6, max <= 15]\n",
      p50, p99, worst, earliest);
  std::printf(
      "lateness at the port write: median %.2f ms, p99 %.2f ms, max %.2f ms\n",
      Percentile(writeLateness, 0.50), Percentile(writeLateness, 0.99),
      writeLateness.empty() ? 0.0 : *std::max_element(writeLateness.begin(), writeLateness.end()));
  std::printf(
      "lateness at the controller, the writes on a modelled %d baud line: median %.2f ms, "
      "p99 %.2f ms, max %.2f ms\n",
      baud, Percentile(controllerLateness, 0.50), Percentile(controllerLateness, 0.99),
      controllerLateness.empty()
          ? 0.0
          : *std::max_element(controllerLateness.begin(), controllerLateness.end()));
  std::printf("cpu: player thread %.1f%% of one core, whole process %.1f%% over %.1f s\n",
              100.0 * (CpuSeconds(threadAfter) - CpuSeconds(threadBefore)) / wallSeconds,
              100.0 * (CpuSeconds(processAfter) - CpuSeconds(processBefore)) / wallSeconds,
              wallSeconds);
  std::printf("passes: %.0f per second; yields and waits: %ld, longest gap between two %.2f ms\n",
              static_cast<double>(audio.reads) / wallSeconds, yields, Ms(longestYieldGap));
  std::printf("other load: %s\n",
              busy ? "a busy loop on every core" : "none of its own (idle machine)");
  if (webOn) {
    std::printf(
        "phone page: %ld status answers (%.1f a second), %ld refused as too many from one "
        "address, %ld failed, slowest %.1f ms; "
        "byte-a-second requests cut %ld, idle connections reopened %ld\n",
        clientFigures->answered.load(),
        static_cast<double>(clientFigures->answered.load()) / wallSeconds,
        clientFigures->refused.load(), clientFigures->failed.load(),
        clientFigures->worstMicros.load() / 1000.0, clientFigures->slowCut.load(),
        clientFigures->idleReopened.load());
  } else {
    std::printf("phone page: off\n");
  }
  const int dispatchPolicy = dispatchPriority.policy & ~SCHED_RESET_ON_FORK;
  std::printf("dispatch %s\n", !dispatchPriority.raised ? "ordinary (no real-time permission)"
                               : dispatchPolicy == SCHED_RR
                                   ? "real-time (SCHED_RR, from RealtimeKit)"
                                   : "real-time (SCHED_FIFO)");
  std::printf("reader thread %s; load average at the end %.2f\n",
              readerRealtime ? "real-time (SCHED_FIFO)" : "ordinary (no real-time permission)",
              LoadAverage());
  const bool exact = lost == 0 && duplicated == 0 && outOfOrder == 0 && unknownBytes == 0;
  std::printf("%s\n", exact && p99 <= 6.0 && worst <= 15.0 ? "targets met" : "targets MISSED");
  return exact ? 0 : 1;
}
