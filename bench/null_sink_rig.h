#pragma once

// What the benchmarks that listen to the sound share: a PulseAudio server of
// their own with a null sink (it renders in real time, as a sound card does,
// and nothing is heard), a recorder on the sink's monitor whose reads are
// stamped on our clock, a raw pseudo-terminal for the line, and child
// processes started with extra environment.
#include <fcntl.h>
#include <pthread.h>
#include <pty.h>
#include <sched.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "platform/posix/unique_fd.h"

extern char** environ;

namespace bench {

using Clock = std::chrono::steady_clock;

inline double Seconds(Clock::time_point t) {
  return std::chrono::duration<double>(t.time_since_epoch()).count();
}

// Runs `args` with `env` added to ours, its stdout and stderr where given;
// returns its pid, or -1.
inline pid_t Spawn(const std::vector<std::string>& args, const std::vector<std::string>& env,
                   int stdoutFd = -1, int stderrFd = -1) {
  std::vector<std::string> envText;
  for (char** e = environ; *e; ++e) envText.emplace_back(*e);
  envText.insert(envText.end(), env.begin(), env.end());
  std::vector<char*> argv, envp;
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  for (const auto& e : envText) envp.push_back(const_cast<char*>(e.c_str()));
  envp.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (stdoutFd >= 0) posix_spawn_file_actions_adddup2(&actions, stdoutFd, STDOUT_FILENO);
  if (stderrFd >= 0) posix_spawn_file_actions_adddup2(&actions, stderrFd, STDERR_FILENO);
  pid_t pid = -1;
  if (posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), envp.data()) != 0) pid = -1;
  posix_spawn_file_actions_destroy(&actions);
  return pid;
}

inline void StopChild(pid_t pid, int signal) {
  if (pid <= 0) return;
  kill(pid, signal);
  waitpid(pid, nullptr, 0);
}

// Ahead of the readers' own work on a busy machine, where that is allowed.
inline void TryRealtime() {
  sched_param p{};
  p.sched_priority = 20;
  pthread_setschedparam(pthread_self(), SCHED_FIFO, &p);
}

// The environment that sends a child's sound to `sink` of the server whose
// runtime folder is `dir`.
inline std::vector<std::string> SinkEnvironment(const std::string& dir, const std::string& sink) {
  return {"XDG_RUNTIME_DIR=" + dir, "PULSE_SINK=" + sink};
}

// A PulseAudio server with one null sink, for as long as the object lives.
class NullSinkServer {
 public:
  // `dir` is its private XDG_RUNTIME_DIR.
  bool Start(const std::string& dir, const std::string& sink) {
    std::filesystem::remove_all(dir + "/pulse");
    const int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
    pid_ =
        Spawn({"pulseaudio", "--daemonize=no", "-n", "--exit-idle-time=-1",
               "--load=module-native-protocol-unix", "--load=module-null-sink sink_name=" + sink},
              SinkEnvironment(dir, sink), null, null);
    if (null >= 0) close(null);
    const auto giveUp = Clock::now() + std::chrono::seconds(10);
    while (pid_ > 0 && !std::filesystem::exists(dir + "/pulse/native") && Clock::now() < giveUp) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    // The socket is there a moment before the sink is.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    return pid_ > 0 && std::filesystem::exists(dir + "/pulse/native");
  }
  void Stop() {
    StopChild(pid_, SIGTERM);
    pid_ = -1;
  }
  ~NullSinkServer() { Stop(); }

 private:
  pid_t pid_ = -1;
};

// `parec` on the sink's monitor: mono 16-bit samples, and for every read when
// it arrived and how many samples the recording held after it.
class MonitorRecorder {
 public:
  struct Chunk {
    Clock::time_point at;
    std::int64_t framesAfter;
  };

  // `latencyMs` 0: the recorder's default latency.
  bool Start(const std::vector<std::string>& env, const std::string& sink, int rate, int latencyMs,
             bool realtime) {
    int pipeFds[2];
    if (pipe(pipeFds) != 0) return false;
    soundOut_ = platform::UniqueFd(pipeFds[0]);
    std::vector<std::string> args = {"parec",
                                     "-d",
                                     sink + ".monitor",
                                     "--raw",
                                     "--format=s16le",
                                     "--channels=1",
                                     "--rate=" + std::to_string(rate)};
    if (latencyMs > 0) args.push_back("--latency-msec=" + std::to_string(latencyMs));
    pid_ = Spawn(args, env, pipeFds[1]);
    close(pipeFds[1]);
    reader_ = std::thread([this, realtime] {
      if (realtime) TryRealtime();
      std::vector<char> buffer(65536);
      std::string carry;
      for (;;) {
        const ssize_t n = read(soundOut_.get(), buffer.data(), buffer.size());
        const auto at = Clock::now();
        if (n <= 0) return;
        carry.append(buffer.data(), static_cast<std::size_t>(n));
        const std::size_t whole = carry.size() / 2;
        for (std::size_t i = 0; i < whole; ++i) {
          samples.push_back(
              static_cast<std::int16_t>(static_cast<unsigned char>(carry[2 * i]) |
                                        (static_cast<unsigned char>(carry[2 * i + 1]) << 8)));
        }
        carry.erase(0, whole * 2);
        chunks.push_back({at, static_cast<std::int64_t>(samples.size())});
      }
    });
    return pid_ > 0;
  }
  // Ends the recording; `samples` and `chunks` are complete after it.
  void Stop() {
    StopChild(pid_, SIGTERM);
    pid_ = -1;
    if (reader_.joinable()) reader_.join();
  }
  ~MonitorRecorder() { Stop(); }

  // Only after Stop.
  std::vector<std::int16_t> samples;
  std::vector<Chunk> chunks;

 private:
  pid_t pid_ = -1;
  platform::UniqueFd soundOut_;
  std::thread reader_;
};

// A pseudo-terminal in raw mode: the program under test writes to the slave
// by name, the benchmark reads the master.
struct RawPty {
  bool Open() {
    termios raw{};
    cfmakeraw(&raw);
    int masterFd = -1, slaveFd = -1;
    if (openpty(&masterFd, &slaveFd, nullptr, &raw, nullptr) != 0) return false;
    master = platform::UniqueFd(masterFd);
    slave = platform::UniqueFd(slaveFd);
    slaveName = ttyname(slaveFd);
    return true;
  }
  platform::UniqueFd master, slave;
  std::string slaveName;
};

}  // namespace bench
