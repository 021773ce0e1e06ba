#include "platform/posix/posix_process_launcher.h"

#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fcntl.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

extern char** environ;

namespace platform {

namespace {

constexpr int kWatchMilliseconds = 100;
// How long a program asked to end may take before it is killed.
constexpr int kGraceSteps = 20;

// Ends a program the caller no longer waits for, and reaps it.
void EndProgram(pid_t pid) {
  ::kill(pid, SIGTERM);
  int status = 0;
  for (int step = 0; step < kGraceSteps; ++step) {
    if (::waitpid(pid, &status, WNOHANG) == pid) return;
    ::poll(nullptr, 0, kWatchMilliseconds);
  }
  ::kill(pid, SIGKILL);
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
}

}  // namespace

Result<int> PosixProcessLauncher::Run(const std::vector<std::string>& argv) {
  return RunWatched(argv, nullptr);
}

Result<int> PosixProcessLauncher::RunWatched(const std::vector<std::string>& argv,
                                             const KeepWaiting& keepWaiting) {
  if (argv.empty() || argv.front().empty()) {
    return Result<int>::Error("Cannot start a program: no program was named.");
  }
  const std::string& program = argv.front();

  std::vector<char*> args;
  args.reserve(argv.size() + 1);
  for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);

  lastErrorOutput_.clear();
  // The program's error output goes through a pipe: passed on to ours as it
  // comes, its end kept for the caller.
  int errorPipe[2] = {-1, -1};
  const bool piped = pipe2(errorPipe, O_CLOEXEC) == 0;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (piped) posix_spawn_file_actions_adddup2(&actions, errorPipe[1], STDERR_FILENO);

  // The program starts with no signal blocked and the stopping ones at
  // their defaults, whatever its caller holds back for itself (glimmer
  // compile waits for them on a thread of its own): an extractor that
  // could not hear its parent end would go on filling the disk.
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t none, defaults;
  sigemptyset(&none);
  sigemptyset(&defaults);
  for (const int sig : {SIGTERM, SIGINT, SIGHUP, SIGPIPE}) sigaddset(&defaults, sig);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

  pid_t pid = 0;
  // glibc reports a failed exec through the return value, so a missing or
  // non-executable program is an error here rather than exit code 127.
  const int spawned =
      posix_spawnp(&pid, program.c_str(), &actions, &attributes, args.data(), environ);
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  if (piped) close(errorPipe[1]);
  if (spawned != 0) {
    if (piped) close(errorPipe[0]);
    return Result<int>::Error("Cannot start the program " + program + ": " +
                              std::strerror(spawned) + ".");
  }
  const auto stopped = [&] {
    EndProgram(pid);
    if (piped) close(errorPipe[0]);
    return Result<int>::Error("The program " + program + " was stopped before it ended.");
  };
  if (piped) {
    constexpr std::size_t kKept = 4096;
    char buffer[4096];
    for (;;) {
      if (keepWaiting) {
        pollfd ready{errorPipe[0], POLLIN, 0};
        const int polled = ::poll(&ready, 1, kWatchMilliseconds);
        if (polled == 0 || (polled < 0 && errno == EINTR)) {
          if (!keepWaiting()) return stopped();
          continue;
        }
      }
      const ssize_t got = read(errorPipe[0], buffer, sizeof buffer);
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) break;
      for (ssize_t done = 0; done < got;) {
        const ssize_t put =
            write(STDERR_FILENO, buffer + done, static_cast<std::size_t>(got - done));
        if (put <= 0) break;
        done += put;
      }
      lastErrorOutput_.append(buffer, static_cast<std::size_t>(got));
      if (lastErrorOutput_.size() > kKept) {
        lastErrorOutput_.erase(0, lastErrorOutput_.size() - kKept);
      }
    }
    close(errorPipe[0]);
  }

  int status = 0;
  for (;;) {
    const pid_t waited = waitpid(pid, &status, keepWaiting ? WNOHANG : 0);
    if (waited == pid) break;
    if (waited == 0) {
      // Its error output is closed but it still runs.
      if (!keepWaiting()) {
        EndProgram(pid);
        return Result<int>::Error("The program " + program + " was stopped before it ended.");
      }
      ::poll(nullptr, 0, kWatchMilliseconds);
      continue;
    }
    if (waited < 0 && errno == EINTR) continue;
    return Result<int>::Error("Lost track of the program " + program + ": " + std::strerror(errno) +
                              ".");
  }
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) {
    const int signal = WTERMSIG(status);
    const char* name = strsignal(signal);
    return Result<int>::Error("The program " + program + " was ended by signal " +
                              std::to_string(signal) + " (" + (name ? name : "unknown") + ").");
  }
  return Result<int>::Error("The program " + program + " ended in an unknown way.");
}

}  // namespace platform
