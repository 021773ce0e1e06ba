#include "platform/posix/posix_child_starter.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/posix/unique_fd.h"

extern char** environ;

namespace platform {
namespace {

// What a child may write before the rest is dropped: a log line, not a dump.
constexpr std::size_t kOutputLimit = 16 * 1024;

class PosixChild final : public ChildProcess {
 public:
  PosixChild(pid_t pid, UniqueFd output) : pid_(pid), output_(std::move(output)) {}
  ~PosixChild() override {
    if (ended_) return;
    Kill();
    // After SIGKILL the end comes at once; only it can free the process slot.
    int status = 0;
    ::waitpid(pid_, &status, 0);
  }

  std::optional<ChildExit> Poll() override {
    Drain();
    if (ended_) return exit_;
    int status = 0;
    const pid_t done = ::waitpid(pid_, &status, WNOHANG);
    if (done != pid_) return std::nullopt;
    ended_ = true;
    Drain();
    if (WIFSIGNALED(status)) {
      exit_ = ChildExit{true, WTERMSIG(status)};
    } else {
      exit_ = ChildExit{false, WEXITSTATUS(status)};
    }
    return exit_;
  }

  std::string TakeOutput() override {
    Drain();
    return std::exchange(text_, {});
  }

  void Kill() override {
    if (!ended_) ::kill(-pid_, SIGKILL);
  }

 private:
  void Drain() {
    if (!output_) return;
    char buffer[4096];
    for (;;) {
      const ssize_t got = ::read(output_.get(), buffer, sizeof buffer);
      if (got > 0) {
        if (kept_ < kOutputLimit) {
          const std::size_t take = std::min(static_cast<std::size_t>(got), kOutputLimit - kept_);
          text_.append(buffer, take);
          kept_ += take;
        }
        continue;
      }
      if (got == 0) output_.Reset();  // every writer has gone
      if (got < 0 && errno == EINTR) continue;
      return;
    }
  }

  pid_t pid_;
  UniqueFd output_;
  std::string text_;
  std::size_t kept_ = 0;
  bool ended_ = false;
  ChildExit exit_;
};

}  // namespace

Result<std::unique_ptr<ChildProcess>> PosixChildStarter::Start(
    const std::vector<std::string>& argv) {
  if (argv.empty() || argv[0].empty())
    return Result<std::unique_ptr<ChildProcess>>::Error("no program to run");
  int pipe[2];
  if (::pipe2(pipe, O_CLOEXEC) != 0) {
    return Result<std::unique_ptr<ChildProcess>>::Error(std::string("cannot make a pipe: ") +
                                                        std::strerror(errno));
  }
  UniqueFd readEnd(pipe[0]);
  UniqueFd writeEnd(pipe[1]);
  ::fcntl(readEnd.get(), F_SETFL, ::fcntl(readEnd.get(), F_GETFL) | O_NONBLOCK);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, writeEnd.get(), STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, writeEnd.get(), STDERR_FILENO);
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t none;
  sigemptyset(&none);
  sigset_t defaults;
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGINT);
  sigaddset(&defaults, SIGTERM);
  sigaddset(&defaults, SIGPIPE);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  posix_spawnattr_setpgroup(&attributes, 0);
  posix_spawnattr_setflags(&attributes,
                           POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETPGROUP);

  std::vector<char*> args;
  for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);
  pid_t pid = 0;
  const int e = ::posix_spawnp(&pid, argv[0].c_str(), &actions, &attributes, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  if (e != 0) {
    return Result<std::unique_ptr<ChildProcess>>::Error("cannot run " + argv[0] + ": " +
                                                        std::strerror(e));
  }
  writeEnd.Reset();  // only the child writes; its end of the pipe tells us it is done
  return Result<std::unique_ptr<ChildProcess>>(
      std::make_unique<PosixChild>(pid, std::move(readEnd)));
}

}  // namespace platform
