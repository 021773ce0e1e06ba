// glimmer check: what the serial line will make of a compiled sequence, the
// report the import gives, for a sequence compiled earlier.
#include <cstdio>
#include <string>
#include <vector>

#include "playback/line_report.h"
#include "sequence_format/event_table.h"
#include "sequence_format/sequence_cache.h"
#include "tools/glimmer/command_line.h"
#include "tools/glimmer/commands.h"

namespace glimmer {
namespace {

constexpr const char* kUsage =
    "Usage: glimmer check [--baud 56000|115200] CACHE\n"
    "Runs the compiled sequence CACHE (.csq) through a model of the serial line at 56000\n"
    "and 115200 baud, sending as the player does, and prints for each rate how late the\n"
    "messages reach the controllers (p99 and max, and when), the worst backlog on the line\n"
    "and the seconds in which the show asks more bytes than the line carries. When at the\n"
    "chosen rate the lights would fall more than 50 ms behind the music, a warning names\n"
    "the worst moment and what would help. Exits 0 either way; 1 when CACHE cannot be read.\n"
    "It looks at this one sequence and the line only: the check before each night (every\n"
    "entry, the port, the sound device, room on the disk, the clock) is run by 'glimmer\n"
    "show' and the player, and its result is in show.log.\n\n"
    "Options:\n"
    "  --baud N   the controllers' line rate (default 115200)\n"
    "  --help     this text\n";

}  // namespace

int RunCheck(const std::vector<std::string>& args) {
  int baud = 115200;
  std::string cache;
  CLI::App app;
  app.add_option("--baud", baud)->check(LineRateIn());
  app.add_option("CACHE", cache)->required();
  if (auto ended = ParseArguments(app, "check", kUsage, args)) return *ended;

  auto loaded = sequence_format::LoadSequenceRows(cache);
  if (!loaded) {
    std::fprintf(stderr, "glimmer check: %s: %s\n", cache.c_str(), loaded.message().c_str());
    return 1;
  }
  const sequence_format::CacheRows rows = std::move(loaded).value();
  // A row for several channels at once is what only the bitmask merge makes.
  bool merged = false;
  for (std::size_t i = 0; i < rows.size() && !merged; ++i) {
    const std::int32_t mask = rows[i].Get(sequence_format::Column::Channel).value_or(0);
    merged = (mask & (mask - 1)) != 0;
  }
  const playback::ImportLineReport report = playback::PlanLine(playback::LineMessagesOf(rows));
  std::printf("%s: %zu rows\n%s", cache.c_str(), rows.size(),
              playback::FormatLineReport(report, baud, merged).c_str());
  return 0;
}

}  // namespace glimmer
