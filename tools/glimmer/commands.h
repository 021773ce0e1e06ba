#pragma once

#include <string>
#include <vector>

namespace glimmer {

// Each sub-command gets its own arguments (without the program and
// sub-command names) and returns the exit status.
int RunDump(const std::vector<std::string>& args);
int RunCompile(const std::vector<std::string>& args);
int RunPlay(const std::vector<std::string>& args);
int RunMonitor(const std::vector<std::string>& args);
int RunDemo(const std::vector<std::string>& args);
int RunShow(const std::vector<std::string>& args);
int RunLog(const std::vector<std::string>& args);
int RunCalendar(const std::vector<std::string>& args);
int RunCheck(const std::vector<std::string>& args);
int RunWeb(const std::vector<std::string>& args);
// Windows: the show at logon through the Task Scheduler.
int RunService(const std::vector<std::string>& args);

}  // namespace glimmer
