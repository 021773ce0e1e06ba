#include "platform/posix/posix_process_launcher.h"

#include <signal.h>
#include <spawn.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

extern char** environ;

namespace platform {

Result<int> PosixProcessLauncher::Run(const std::vector<std::string>& argv) {
  if (argv.empty() || argv.front().empty()) {
    return Result<int>::Error("Cannot start a program: no program was named.");
  }
  const std::string& program = argv.front();

  std::vector<char*> args;
  args.reserve(argv.size() + 1);
  for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);

  pid_t pid = 0;
  // glibc reports a failed exec through the return value, so a missing or
  // non-executable program is an error here rather than exit code 127.
  const int spawned = posix_spawnp(&pid, program.c_str(), nullptr, nullptr, args.data(), environ);
  if (spawned != 0) {
    return Result<int>::Error("Cannot start the program " + program + ": " +
                              std::strerror(spawned) + ".");
  }

  int status = 0;
  for (;;) {
    const pid_t waited = waitpid(pid, &status, 0);
    if (waited == pid) break;
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
