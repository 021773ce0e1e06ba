// How late the lights reach the controllers while phone-page clients ask the
// show for its nights and status, against the same show without them, in one
// run: `glimmer show`'s own front end and host (the page served from the
// show's yields, its nights kept in memory, reads limited per address) play
// one dense song into a pseudo-terminal. Clients start halfway through; the
// messages due in each half are compared. Lateness at the controller is each
// write carried over a modelled serial line at the show's rate, so the line,
// not the pseudo-terminal's speed, decides it.
//
// Usage: bench_page_clients [--seconds N] [--clients N] [--log-megabytes N]
//   --seconds N        length of the song (default 60); clients ask in its
//                      second half
//   --clients N        client processes asking without pause (default 16),
//                      each for /api/nights?n=366 and /api/status in turn
//   --log-megabytes N  size of show.log and of each of its five older files
//                      (default 1, the rotation's limit)
#include <netinet/in.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
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
#include "platform/posix/system_clock.h"
#include "platform/posix/termios_serial_port.h"
#include "platform/posix/unique_fd.h"
#include "platform/system.h"
#include "playback/line_model.h"
#include "playback/wire_protocol.h"
#include "sequence_format/event_table.h"
#include "sequence_format/fade_timing.h"
#include "sequence_format/sequence_cache.h"
#include "tools/glimmer/console_show_window.h"
#include "tools/glimmer/headless_show.h"

namespace {

using Clock = std::chrono::steady_clock;
using sequence_format::Column;
using Record = sequence_format::EventTable::Record;
using bench::TimedPort;

// 200 rows a second on a 50 ms grid, up to eight at one moment, each message
// unique so that every write names its rows.
std::vector<Record> MakeSequence(int seconds) {
  std::vector<Record> rows;
  std::mt19937 random(7);
  for (std::int64_t t = playback::kSamplesPerSecond;
       t < static_cast<std::int64_t>(seconds - 1) * playback::kSamplesPerSecond;
       t += playback::kSamplesPerSecond / 20) {
    const int n = 1 + static_cast<int>(random() % 19);
    for (int j = 0; j < n; ++j) {
      const int i = static_cast<int>(rows.size());
      Record r;
      r.values[static_cast<int>(Column::SampleNumber)] = static_cast<std::int32_t>(t);
      r.values[static_cast<int>(Column::Command)] = 33;
      r.values[static_cast<int>(Column::Device)] = 1 + (i / 255) % 255;
      r.values[static_cast<int>(Column::Channel)] = 1 + i % 255;
      r.values[static_cast<int>(Column::StartIntensity)] = i & 0xFF;
      r.values[static_cast<int>(Column::EndIntensity)] = (i >> 8) & 0xFF;
      rows.push_back(r);
    }
  }
  return rows;
}

// A show log of `bytes`, nights of songs as the show writes them.
std::string MakeLog(std::size_t bytes, int firstDay) {
  std::string log;
  for (int day = firstDay; log.size() < bytes; ++day) {
    char date[16];
    std::snprintf(date, sizeof date, "2026-%02d-%02d", 1 + (day / 28) % 12, 1 + day % 28);
    log += std::string(date) + " 17:30:00 +0100 Show started (autostart)\n";
    for (int song = 0; song < 110 && log.size() < bytes; ++song) {
      const std::string at = std::string(date) + " " + std::to_string(18 + song / 20) + ":" +
                             std::to_string(10 + song % 20 * 2) + ":00 +0100 ";
      log += at + "Entry " + std::to_string(song % 12 + 1) + " started: Song " +
             std::to_string(song % 12 + 1) + " - a title as long as most are\n";
      log += at + "Entry " + std::to_string(song % 12 + 1) + " finished\n";
    }
  }
  return log;
}

struct ClientFigures {
  std::atomic<long> answered{0};
  std::atomic<long> refused{0};  // 429: too many from the address
  std::atomic<long> failed{0};
};

// One request on a fresh connection; its status, 0 when none came.
int Ask(int port, const std::string& path) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(static_cast<std::uint16_t>(port));
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  int status = 0;
  const std::string request =
      "GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n";
  if (connect(fd, reinterpret_cast<const sockaddr*>(&to), sizeof to) == 0 &&
      send(fd, request.data(), request.size(), MSG_NOSIGNAL) ==
          static_cast<ssize_t>(request.size())) {
    std::string got;
    char buffer[65536];
    for (;;) {
      pollfd p{fd, POLLIN, 0};
      if (poll(&p, 1, 5000) != 1) break;
      const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
      if (n <= 0) break;
      got.append(buffer, static_cast<std::size_t>(n));
    }
    if (got.size() > 12) status = std::atoi(got.c_str() + 9);
  }
  close(fd);
  return status;
}

// A client process that waits `delay`, then asks without pause until killed.
pid_t StartClient(int port, std::chrono::seconds delay, ClientFigures* figures) {
  const pid_t pid = fork();
  if (pid != 0) return pid;
  prctl(PR_SET_PDEATHSIG, SIGKILL);
  std::this_thread::sleep_for(delay);
  for (bool nights = true;; nights = !nights) {
    const int status = Ask(port, nights ? "/api/nights?n=366" : "/api/status");
    (status == 200 ? figures->answered : status == 429 ? figures->refused : figures->failed)++;
  }
}

int FreePort() {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in at{};
  at.sin_family = AF_INET;
  at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(fd, reinterpret_cast<const sockaddr*>(&at), sizeof at);
  socklen_t size = sizeof at;
  getsockname(fd, reinterpret_cast<sockaddr*>(&at), &size);
  close(fd);
  return ntohs(at.sin_port);
}

double Percentile(std::vector<double> v, double p) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  const auto i = static_cast<std::size_t>(p * static_cast<double>(v.size() - 1) + 0.5);
  return v[std::min(i, v.size() - 1)];
}

void PrintLateness(const char* what, const std::vector<double>& late) {
  std::printf("  %-28s %6zu messages: median %6.2f ms, p99 %6.2f ms, max %7.2f ms\n", what,
              late.size(), Percentile(late, 0.5), Percentile(late, 0.99),
              late.empty() ? 0.0 : *std::max_element(late.begin(), late.end()));
}

}  // namespace

int main(int argc, char** argv) {
  int seconds = 60, clients = 16, logMegabytes = 1;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--seconds" && i + 1 < argc) {
      seconds = std::max(10, std::atoi(argv[++i]));
    } else if (a == "--clients" && i + 1 < argc) {
      clients = std::max(0, std::atoi(argv[++i]));
    } else if (a == "--log-megabytes" && i + 1 < argc) {
      logMegabytes = std::max(0, std::atoi(argv[++i]));
    } else {
      std::fprintf(stderr, "usage: %s [--seconds N] [--clients N] [--log-megabytes N]\n", argv[0]);
      return 2;
    }
  }

  // ---- the show's folder: one song, its sequence, a full log, the page on ----
  char tmp[] = "/tmp/glimmer-bench-page-XXXXXX";
  if (!mkdtemp(tmp)) return 1;
  const std::string dir = tmp;
  platform::PosixFileStore files;
  const std::vector<Record> records = MakeSequence(seconds);
  const std::string cache = dir + "/bench.csq", song = dir + "/bench.wav";
  if (auto s = sequence_format::SaveSequenceCache(sequence_format::EventTable::FromRecords(records),
                                                  cache, files);
      !s) {
    std::fprintf(stderr, "%s\n", s.message().c_str());
    return 1;
  }
  (void)files.ReplaceFile(song,
                          binary::SilentWav(8000, 1, static_cast<std::uint32_t>(seconds) * 8000));
  (void)files.ReplaceFile(dir + "/playlist.txt", "\2600.94\r\n" + song + "\r\n" + cache +
                                                     "\r\nbench\r\nbench.msq\r\n0.94\r\n");
  const int baud = 115200;
  (void)files.ReplaceFile(
      dir + "/preferences.txt",
      "1\r\n" + std::to_string(baud) + "\r\n5\r\n12:00:00 AM\r\n11:59:59 PM\r\n0\r\nc:\\\r\n");
  const int port = FreePort();
  (void)files.ReplaceFile(
      dir + "/settings.toml",
      "[web]\nlisten = \"127.0.0.1:" + std::to_string(port) + "\"\ntoken = \"bench-token\"\n");
  const std::size_t logBytes = static_cast<std::size_t>(logMegabytes) * 1000 * 1000;
  for (int generation = 0; generation <= platform::kLogGenerations; ++generation) {
    const std::string path =
        dir + "/show.log" + (generation == 0 ? "" : "." + std::to_string(generation));
    (void)files.ReplaceFile(path, MakeLog(logBytes, (platform::kLogGenerations - generation) * 40));
  }
  std::unordered_map<std::string, std::size_t> rowOfMessage;
  for (std::size_t i = 0; i < records.size(); ++i) {
    std::string m;
    playback::EncodeEvent(records[i], 0, sequence_format::kFadeTimingTable, m);
    rowOfMessage.emplace(m, i);
  }

  // ---- the line: a pseudo-terminal whose other end is read and dropped ----
  termios raw{};
  cfmakeraw(&raw);
  int masterFd = -1, slaveFd = -1;
  if (openpty(&masterFd, &slaveFd, nullptr, &raw, nullptr) != 0) return 1;
  platform::UniqueFd master(masterFd), slave(slaveFd);
  const std::string slaveName = ttyname(slaveFd);
  std::thread reader([&] {
    char buffer[65536];
    for (;;) {
      pollfd p{master.get(), POLLIN, 0};
      if (poll(&p, 1, 60000) <= 0) return;
      if (read(master.get(), buffer, sizeof buffer) <= 0) return;
    }
  });

  // ---- glimmer show's front end and host ----
  platform::LineOutput errors(STDERR_FILENO);
  glimmer::ConsoleShowView view(errors, /*labelled=*/true, /*quiet=*/true);
  glimmer::ConsoleUserInterface ui;
  platform::SystemClock clock;
  Clock::time_point audioStart{};
  bool captureStart = true;
  platform::PortAudioPlayer audio({.silent = true, .now = [&] {
                                     const auto t = Clock::now();
                                     if (captureStart) audioStart = t, captureStart = false;
                                     return t;
                                   }});
  platform::TermiosSerialPort serial({.applicationDirectory = dir,
                                      .devicePath = slaveName,
                                      .stallTimeout = std::chrono::seconds(1)});
  TimedPort timedPort(serial);
  glimmer::HeadlessShow show({.dir = dir,
                              .portOverride = 0,
                              .port = timedPort,
                              .audio = audio,
                              .ui = ui,
                              .clock = clock,
                              .files = files,
                              .view = view});
  host::ShowHost& host = show.Host();
  const std::unique_ptr<platform::DispatchPriority> priority = platform::MakeDispatchPriority();
  host.Session().SetDispatchPriority(priority.get());
  host.onPhonePage = [&](const std::string&) {
    ui.WakeOn(host.WakeFd(), [&host] { host.Poll(); });
  };
  const auto seedStart = Clock::now();
  host.ServePhonePage();
  const double seedMs = std::chrono::duration<double, std::milli>(Clock::now() - seedStart).count();
  if (host.PhonePageAddress().empty()) {
    std::fprintf(stderr, "the page is not served\n");
    return 1;
  }
  // One song, then the show stops, as its operator would.
  const auto token = host.Session().Subscribe([&](const playback::ShowEvent& event) {
    if (event.kind == playback::ShowEventKind::EntryFinished) (void)host.Stop({"bench"});
  });

  auto* figures = static_cast<ClientFigures*>(mmap(
      nullptr, sizeof(ClientFigures), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0));
  new (figures) ClientFigures;
  std::vector<pid_t> children;
  const std::chrono::seconds half(seconds / 2);
  for (int i = 0; i < clients; ++i) children.push_back(StartClient(port, half, figures));

  const auto began = Clock::now();
  (void)host.Start({"bench"});
  const double wall = std::chrono::duration<double>(Clock::now() - began).count();
  for (pid_t pid : children) kill(pid, SIGKILL);
  for (pid_t pid : children) waitpid(pid, nullptr, 0);
  slave.Reset();  // the show has closed its end: the reader sees the line end
  reader.join();
  std::filesystem::remove_all(dir);

  // ---- lateness at the controller, each half on its own ----
  std::vector<double> without, with;
  const double halfMs = 1000.0 * half.count();
  playback::SerialLineModel line(baud);
  std::size_t seen = 0;
  for (const auto& [at, bytes] : timedPort.writes) {
    const double writtenAt = std::chrono::duration<double>(at - audioStart).count();
    playback::MessageFramer framer;
    std::vector<playback::WireFrame> frames = framer.Feed(bytes);
    for (playback::WireFrame& frame : framer.Flush()) frames.push_back(std::move(frame));
    for (const playback::WireFrame& frame : frames) {
      const double arrives = line.Write(writtenAt, frame.bytes.size());
      const auto found = rowOfMessage.find(frame.bytes);
      if (found == rowOfMessage.end()) continue;
      ++seen;
      const std::int64_t sample = records[found->second].Get(Column::SampleNumber).value_or(0);
      const std::int64_t due = std::max<std::int64_t>(0, sample - 5 * playback::kFrameTimingStep);
      const double dueMs = 1000.0 * static_cast<double>(due) / playback::kSamplesPerSecond;
      // A second's margin either side of the clients' start.
      if (dueMs < halfMs - 1000) without.push_back(1000.0 * arrives - dueMs);
      if (dueMs > halfMs + 1000) with.push_back(1000.0 * arrives - dueMs);
    }
  }
  std::printf("show: %zu rows over %d s at %d baud (%zu sent), played in %.1f s\n", records.size(),
              seconds, baud, seen, wall);
  std::printf("show.log and %d older files of %d MB: the page's nights read once in %.1f ms\n",
              platform::kLogGenerations, logMegabytes, seedMs);
  std::printf("lateness at the controller on the modelled line:\n");
  PrintLateness("without page clients", without);
  PrintLateness(("with " + std::to_string(clients) + " page clients").c_str(), with);
  const double clientSeconds = std::max(1.0, wall - static_cast<double>(half.count()));
  std::printf(
      "page clients: %ld answered (%.1f a second), %ld refused as too many from one address, "
      "%ld failed\n",
      figures->answered.load(), figures->answered.load() / clientSeconds, figures->refused.load(),
      figures->failed.load());
  host.Session().Unsubscribe(token);
  return seen == records.size() ? 0 : 1;
}
