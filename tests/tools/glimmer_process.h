#pragma once

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "platform/paths.h"
#include "tests/fakes/temp_dir.h"

extern char** environ;

namespace tools_test {

// The glimmer program of this build.
inline std::string GlimmerProgram() {
  const char* bin = std::getenv("GLIMMER_BIN");
  return (bin != nullptr ? std::string(bin) : platform::ApplicationDirectory()) + "/glimmer";
}

// `glimmer ARGS` as a child process, its output kept in files of `dir`.
// `environment` entries ("NAME=value") are added to ours.
class GlimmerProcess {
 public:
  GlimmerProcess(const fakes::TempDir& dir, std::vector<std::string> args,
                 const std::vector<std::string>& environment = {})
      : out_(dir.File("glimmer.out")), err_(dir.File("glimmer.err")) {
    args.insert(args.begin(), GlimmerProgram());
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    std::vector<std::string> env;
    for (char** e = environ; *e != nullptr; ++e) env.emplace_back(*e);
    env.insert(env.end(), environment.begin(), environment.end());
    std::vector<char*> envp;
    for (auto& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, out_.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, err_.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), envp.data()) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
  }
  ~GlimmerProcess() {
    if (pid_ > 0 && !waited_) {
      ::kill(pid_, SIGKILL);
      Wait();
    }
  }
  GlimmerProcess(const GlimmerProcess&) = delete;
  GlimmerProcess& operator=(const GlimmerProcess&) = delete;

  bool Started() const { return pid_ > 0; }
  // Whether the program still runs (an ended one is reaped here).
  bool Running() {
    if (waited_) return false;
    int status = 0;
    if (::waitpid(pid_, &status, WNOHANG) != pid_) return true;
    waited_ = true;
    status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return false;
  }
  void Signal(int signal) const { ::kill(pid_, signal); }
  // The exit status; 128 + n for a child killed by signal n.
  int Wait() {
    if (!waited_) {
      int status = 0;
      while (::waitpid(pid_, &status, 0) < 0) {
      }
      waited_ = true;
      status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    return status_;
  }
  std::string Out() const { return fakes::ReadBytes(out_); }
  std::string Err() const { return fakes::ReadBytes(err_); }

 private:
  std::string out_, err_;
  pid_t pid_ = -1;
  bool waited_ = false;
  int status_ = -1;
};

}  // namespace tools_test
