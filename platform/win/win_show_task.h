#pragma once

#include <memory>
#include <string>

#include "platform/service_manager.h"
#include "platform/status.h"

namespace platform::win {

// The scheduled task that runs the show unattended where Linux has its user
// service: `glimmer show` at the user's logon, started again after a failure.
inline constexpr const wchar_t* kShowTaskName = L"Glimmerfield show";

struct ShowTask {
  std::string program;        // C:\...\glimmer.exe
  std::string workingFolder;  // where it starts
  std::string user;           // DOMAIN\name whose logon starts it
};

// The task's definition in the Task Scheduler's XML (as UTF-8 text). It runs
// at normal priority (a task's default is below normal, which would put the
// show behind every program on the desktop), without a time limit, also on
// battery, one copy at a time, and is started again a minute after a failed
// run, up to 999 times.
std::string ShowTaskXml(const ShowTask& task);

// Registers the task for the current user (replacing an older one) or
// removes it. An error says what the Task Scheduler answered.
Status InstallShowTask(const ShowTask& task);
Status UninstallShowTask();

// The task for this program and user: this executable, the folder it is in,
// %USERDOMAIN%\%USERNAME%.
ShowTask ShowTaskForThisProgram();

}  // namespace platform::win

namespace platform {

// Windows has no notify socket: the Task Scheduler watches the process
// itself. Always nothing, so the show runs as it does without a manager.
std::unique_ptr<ServiceManager> ConnectServiceManager();

}  // namespace platform
