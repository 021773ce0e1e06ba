// glimmer: the command-line companion of the Glimmerfield player.
#include <cstdio>
#include <cstring>
#include <exception>
#include <string>
#include <vector>

#include "platform/paths.h"
#include "tools/glimmer/commands.h"

namespace {

struct SubCommand {
  const char* name;
  const char* summary;
  int (*run)(const std::vector<std::string>&);
};

const SubCommand kCommands[] = {
    {"dump", "print a compiled sequence (.csq) as CSV", glimmer::RunDump},
    {"compile", "compile a sequence document or archive into a .csq file", glimmer::RunCompile},
    {"play", "play one compiled sequence with its audio into a serial device", glimmer::RunPlay},
#ifndef _WIN32
    {"monitor", "decode and print what arrives on a serial line", glimmer::RunMonitor},
#endif
    {"demo", "a whole show on any machine: generated song, import, playback, live view",
     glimmer::RunDemo},
    {"show", "run the show of the saved playlist without a window", glimmer::RunShow},
    {"log", "sum up the show log of the last nights", glimmer::RunLog},
    {"calendar", "list the nights calendar.toml gives, and why", glimmer::RunCalendar},
    {"check", "how late one .csq reaches the controllers on the line (not the night check)",
     glimmer::RunCheck},
    {"web", "turn on the phone page: status and Start, Stop from a phone", glimmer::RunWeb},
#ifdef _WIN32
    {"service", "run the show at logon through the Task Scheduler", glimmer::RunService},
#endif
};

void PrintUsage(std::FILE* out) {
  std::fprintf(out,
               "Usage: glimmer COMMAND [OPTIONS] ARGS...\n"
               "The command-line companion of the Glimmerfield light-show player.\n\n"
               "Commands:\n");
  for (const auto& c : kCommands) std::fprintf(out, "  %-9s %s\n", c.name, c.summary);
  const platform::ProgramFolders folders = platform::CurrentProgramFolders();
  std::fprintf(out,
               "\nRun 'glimmer COMMAND --help' for the options of one command.\n\n"
               "The player's files (preferences.txt, playlist.txt, Cache, show.log) are in\n"
               "  %s\n"
               "%s",
               folders.data.c_str(),
               folders.installed
#ifdef _WIN32
                   ? "the installed player's data folder (%LOCALAPPDATA%\\Glimmerfield);\n"
                     "'glimmer show --dir DIR' uses another one.\n"
#else
                   ? "the installed player's data folder ($XDG_DATA_HOME/glimmerfield, else\n"
                     "~/.local/share/glimmerfield); 'glimmer show --dir DIR' uses another one.\n"
#endif
                   : "beside the programs, as this copy is not the installed one;\n"
                     "'glimmer show --dir DIR' uses another folder.\n");
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    PrintUsage(stderr);
    return 1;
  }
  const std::string name = argv[1];
  if (name == "--help" || name == "-h" || name == "help") {
    PrintUsage(stdout);
    return 0;
  }
  if (name == "--version") {
    std::printf("glimmer %s\n", GLIMMER_VERSION);
    return 0;
  }
  for (const auto& c : kCommands) {
    if (name != c.name) continue;
    // No exception ends the program unexplained.
    try {
      return c.run(std::vector<std::string>(argv + 2, argv + argc));
    } catch (const std::exception& e) {
      std::fprintf(stderr, "glimmer %s: %s\n", c.name, e.what());
      return 1;
    }
  }
  std::fprintf(stderr, "glimmer: unknown command '%s'\n\n", name.c_str());
  PrintUsage(stderr);
  return 1;
}
