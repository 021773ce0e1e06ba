// glimmer log: what the show log says about the last nights, in short.
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "platform/file_store.h"
#include "platform/paths.h"
#include "platform/system.h"
#include "playback/show_log.h"
#include "tools/glimmer/command_line.h"
#include "tools/glimmer/commands.h"
#include "watch/night_report.h"

namespace glimmer {
namespace {

constexpr const char* kUsage =
    "Usage: glimmer log [--dir DIR] [--nights N]\n"
    "Sums up the show log (show.log and the older show.log.1) night by night: shows\n"
    "started, entries played and skipped, late keep-alives (2 seconds or more),\n"
    "serial port losses and entries whose lights fell more than 50 ms behind on the\n"
    "serial line ('late line'); then each night's window against the minutes of songs\n"
    "that played (a night below 90 % is marked short). A night runs from noon to noon\n"
    "and carries the date of its evening. The log itself is plain text: 'tail -f\n"
    "show.log' follows a show.\n\n"
    "Options:\n"
    "  --dir DIR    the folder with show.log (default: the player's folder, which\n"
    "               'glimmer --help' names)\n"
    "  --nights N   how many of the last nights to show (default 7)\n"
    "  --help       this text\n";

// Each night's window against what played; "short" below the share that
// raises the night-short alert.
void PrintExpectedAgainstPlayed(const std::string& text, int nights) {
  std::vector<watch::NightPlayed> played = watch::ExpectedAgainstPlayed(text);
  if (played.empty()) return;
  if (played.size() > static_cast<std::size_t>(nights)) {
    played.erase(played.begin(), played.end() - nights);
  }
  std::printf("\n%-12s %8s %8s %5s %6s %8s %11s %9s %10s %7s\n", "night of", "asked", "played", "%",
              "songs", "skipped", "by request", "late k-a", "port lost", "silent");
  for (const watch::NightPlayed& night : played) {
    const int asked = night.AskedOfWindow();
    const std::string window = asked < 0 ? "?" : std::to_string(asked / 60) + " min";
    const std::string share = night.Percent() < 0 ? "-" : std::to_string(night.Percent());
    std::printf("%-12s %8s %4d min %5s %6d %8d %11d %9d %10d %7d%s\n", night.date.c_str(),
                window.c_str(), night.playedSeconds / 60, share.c_str(), night.songs, night.skipped,
                night.skippedByRequest, night.lateKeepAlives, night.portLosses, night.silentSongs,
                night.Short() ? "  short" : "");
  }
}

}  // namespace

int RunLog(const std::vector<std::string>& args) {
  std::string dir;
  int nights = 7;
  CLI::App app;
  app.add_option("--dir", dir);
  app.add_option("--nights", nights)->check(WholeNumberIn(1, 10000));
  if (auto ended = ParseArguments(app, "log", kUsage, args)) return *ended;
  if (dir.empty()) dir = platform::CurrentProgramFolders().data;

  const std::string path = platform::ShowLogPath(dir);
  const std::unique_ptr<platform::FileStore> files = platform::MakeFileStore();
  const watch::ShowLogText read = watch::ReadShowLog(*files, path, platform::kLogGenerations);
  if (!read.problem.empty()) {
    std::fprintf(stderr, "glimmer log: %s\n", read.problem.c_str());
    return 1;
  }
  if (!read.found) {
    std::fprintf(stderr, "glimmer log: there is no show log in %s yet (%s)\n", dir.c_str(),
                 path.c_str());
    return 1;
  }
  const std::string& text = read.text;
  int notUnderstood = 0;
  std::vector<playback::NightSummary> summary = playback::SummarizeShowLog(text, &notUnderstood);
  if (notUnderstood > 0) {
    std::fprintf(stderr,
                 "glimmer log: %d line(s) of %s are not events with a date and time; they are "
                 "left out\n",
                 notUnderstood, path.c_str());
  }
  if (summary.size() > static_cast<std::size_t>(nights)) {
    summary.erase(summary.begin(), summary.end() - nights);
  }
  std::printf("%-12s %6s %7s %8s %11s %11s %10s %11s\n", "night of", "shows", "played", "skipped",
              "late k-a", "port lost", "late line", "by request");
  for (const playback::NightSummary& night : summary) {
    std::printf("%-12s %6d %7d %8d %11d %11d %10d %11d\n", night.date.c_str(), night.shows,
                night.played, night.skipped, night.lateKeepAlives, night.portLosses,
                night.lateLines, night.skippedByRequest);
  }
  if (summary.empty()) std::printf("(no events in %s)\n", path.c_str());
  PrintExpectedAgainstPlayed(text, nights);
  return 0;
}

}  // namespace glimmer
