// glimmer service: has Windows run the show unattended, as the user service
// glimmer-show does on Linux: `glimmer show` at the user's logon through the
// Task Scheduler, started again after a failure.
#include <cstdio>
#include <string>
#include <vector>

#include "platform/win/win_show_task.h"
#include "tools/glimmer/commands.h"

namespace glimmer {
namespace {

constexpr const char* kUsage =
    "Usage: glimmer service --install | --uninstall\n"
    "Has Windows run 'glimmer show' (the show of the saved playlist, without a window)\n"
    "whenever you log on, through the Task Scheduler task \"Glimmerfield show\": at\n"
    "normal priority, also on battery, with no time limit, one copy at a time, and\n"
    "started again a minute after a run that failed.\n\n"
    "Options:\n"
    "  --install    register the task for this program and user (again: replaced)\n"
    "  --uninstall  remove the task; a running show goes on until it ends\n"
    "  --help       this text\n\n"
    "Exit status: 0; 1 when the Task Scheduler refused (its reason is printed); 2 on a\n"
    "mistake in the options.\n";

}  // namespace

int RunService(const std::vector<std::string>& args) {
  if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h")) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  if (args.size() != 1 || (args[0] != "--install" && args[0] != "--uninstall")) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  if (args[0] == "--install") {
    const platform::win::ShowTask task = platform::win::ShowTaskForThisProgram();
    if (const platform::Status s = platform::win::InstallShowTask(task); !s) {
      std::fprintf(stderr, "glimmer service: %s\n", s.message().c_str());
      return 1;
    }
    std::printf("The show now starts when %s logs on: %s show\n", task.user.c_str(),
                task.program.c_str());
    return 0;
  }
  if (const platform::Status s = platform::win::UninstallShowTask(); !s) {
    std::fprintf(stderr, "glimmer service: %s\n", s.message().c_str());
    return 1;
  }
  std::printf("The show no longer starts at logon.\n");
  return 0;
}

}  // namespace glimmer
