#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <string>
#include <utility>
#include <vector>

extern char** environ;

// The one way tests run a child: a program of ours or another as a process,
// or a piece of the test program in a forked child.
namespace fakes {

// Where a child's output goes and what else it is handed.
struct ChildOptions {
  std::string outFile, errFile;                    // empty: a pipe this side reads
  bool errToOut = false;                           // standard error joins standard output
  std::vector<std::string> environment;            // "NAME=value", added to ours
  std::vector<std::pair<int, int>> descriptors{};  // (ours, its number) handed over
};

class ChildProcess {
 public:
  ChildProcess(std::vector<std::string> argv, const ChildOptions& options = {}) {
    std::vector<char*> args;
    for (auto& a : argv) args.push_back(a.data());
    args.push_back(nullptr);
    std::vector<char*> envp;
    for (char** e = environ; *e != nullptr; ++e) envp.push_back(*e);
    for (auto& e : options.environment) envp.push_back(const_cast<char*>(e.c_str()));
    envp.push_back(nullptr);

    int out[2] = {-1, -1}, err[2] = {-1, -1};
    if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    const auto route = [&](int number, const std::string& file, int pipeEnd) {
      if (file.empty()) {
        posix_spawn_file_actions_adddup2(&actions, pipeEnd, number);
      } else {
        posix_spawn_file_actions_addopen(&actions, number, file.c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0600);
      }
    };
    route(STDOUT_FILENO, options.outFile, out[1]);
    if (options.errToOut) {
      posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
    } else {
      route(STDERR_FILENO, options.errFile, err[1]);
    }
    for (const auto& [ours, theirs] : options.descriptors) {
      posix_spawn_file_actions_adddup2(&actions, ours, theirs);
    }
    if (posix_spawn(&pid_, args[0], &actions, nullptr, args.data(), envp.data()) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    close(err[1]);
    out_ = out[0];
    err_ = err[0];
  }
  ~ChildProcess() {
    if (pid_ > 0 && !waited_) {
      ::kill(pid_, SIGKILL);
      Wait();
    }
    if (out_ >= 0) close(out_);
    if (err_ >= 0) close(err_);
  }
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  bool Started() const { return pid_ > 0; }
  // Whether it still runs (an ended one is reaped here).
  bool Running() {
    if (waited_ || pid_ <= 0) return false;
    int status = 0;
    if (::waitpid(pid_, &status, WNOHANG) != pid_) return true;
    Reaped(status);
    return false;
  }
  void Signal(int signal) const { ::kill(pid_, signal); }
  // The exit status; 128 + n for a child killed by signal n, -1 for one that
  // never started.
  int Wait() {
    if (!waited_ && pid_ > 0) {
      int status = 0;
      while (::waitpid(pid_, &status, 0) < 0) {
      }
      Reaped(status);
    }
    return status_;
  }

  // Reads the piped standard output (or error) into `text` until `done`
  // holds, the pipe ends, or the child says nothing for `quiet` (a safety
  // net against a hung child, not a timing check). True when `done` held.
  bool ReadOutUntil(std::string& text, const std::function<bool(const std::string&)>& done,
                    std::chrono::milliseconds quiet = std::chrono::seconds(5)) {
    ReadUntil(out_, text, done, quiet);
    return done(text);
  }
  // Reads to the end of the piped standard output (or error); false when
  // the child went quiet for `quiet` without closing it.
  bool ReadOutToEnd(std::string& text, std::chrono::milliseconds quiet = std::chrono::seconds(5)) {
    return ReadUntil(out_, text, Never, quiet);
  }
  bool ReadErrToEnd(std::string& text, std::chrono::milliseconds quiet = std::chrono::seconds(5)) {
    return ReadUntil(err_, text, Never, quiet);
  }
  // Both pipes read to their ends (the child's output closed).
  void ReadAll(std::string& out, std::string& err) {
    pollfd fds[2] = {{out_, POLLIN, 0}, {err_, POLLIN, 0}};
    std::string* sinks[2] = {&out, &err};
    for (int open = 2; open > 0;) {
      if (poll(fds, 2, -1) < 0) break;
      for (int i = 0; i < 2; ++i) {
        if (fds[i].fd < 0 || fds[i].revents == 0) continue;
        char buffer[4096];
        const ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
        if (n > 0) {
          sinks[i]->append(buffer, static_cast<std::size_t>(n));
        } else {
          fds[i].fd = -1;
          --open;
        }
      }
    }
  }

 private:
  static bool Never(const std::string&) { return false; }
  // False when the child went quiet for `quiet`.
  static bool ReadUntil(int fd, std::string& text,
                        const std::function<bool(const std::string&)>& done,
                        std::chrono::milliseconds quiet) {
    char buffer[4096];
    while (!done(text)) {
      pollfd p{fd, POLLIN, 0};
      if (poll(&p, 1, static_cast<int>(quiet.count())) <= 0) return false;
      const ssize_t n = read(fd, buffer, sizeof buffer);
      if (n <= 0) return true;
      text.append(buffer, static_cast<std::size_t>(n));
    }
    return true;
  }
  void Reaped(int status) {
    waited_ = true;
    status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }

  pid_t pid_ = -1;
  int out_ = -1, err_ = -1;
  bool waited_ = false;
  int status_ = -1;
};

// Text that holds at least `count` lines.
inline std::function<bool(const std::string&)> HasLines(std::size_t count) {
  return [count](const std::string& t) {
    return static_cast<std::size_t>(std::count(t.begin(), t.end(), '\n')) >= count;
  };
}

struct ProgramRun {
  int exitCode = -1;  // -1: did not start; 128 + n: killed by signal n
  std::string out, err;
};

// Runs a program with these arguments, no shell in between, and collects what
// it writes until it ends. Its standard input is empty.
inline ProgramRun RunProgram(const std::vector<std::string>& argv) {
  ProgramRun run;
  ChildProcess child(argv);
  if (!child.Started()) {
    run.err = "cannot start " + argv[0];
    return run;
  }
  child.ReadAll(run.out, run.err);
  run.exitCode = child.Wait();
  return run;
}

// Runs `body` in a forked child of the test program, so what it changes for
// itself (a file size or address space limit, giving up root) stays out of
// the test. What the body puts in `said` comes back; the exit code is its
// return value (-1 when the child did not end normally).
struct ChildRun {
  int exitCode = -1;
  std::string said;
};
inline ChildRun RunInChild(const std::function<int(std::string& said)>& body) {
  ChildRun run;
  int ends[2];
  if (pipe2(ends, O_CLOEXEC) != 0) return run;
  const pid_t child = fork();
  if (child == 0) {
    close(ends[0]);
    std::string said;
    const int code = body(said);
    if (!said.empty() && write(ends[1], said.data(), said.size()) < 0) _exit(125);
    _exit(code);
  }
  close(ends[1]);
  char buffer[4096];
  for (ssize_t n; child > 0 && (n = read(ends[0], buffer, sizeof buffer)) > 0;) {
    run.said.append(buffer, static_cast<std::size_t>(n));
  }
  close(ends[0]);
  int status = 0;
  if (child > 0 && waitpid(child, &status, 0) == child && WIFEXITED(status)) {
    run.exitCode = WEXITSTATUS(status);
  }
  return run;
}

// The id of a process that has ended, as leftovers of a killed program carry.
inline pid_t EndedProcessId() {
  const pid_t gone = fork();
  if (gone == 0) _exit(0);
  waitpid(gone, nullptr, 0);
  return gone;
}

}  // namespace fakes
