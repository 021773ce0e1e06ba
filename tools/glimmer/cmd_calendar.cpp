// glimmer calendar: the nights calendar.toml gives, one a line, and why; the
// show plays exactly these.
#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

#include "calendar/calendar_file.h"
#include "calendar/local_time.h"
#include "calendar/season.h"
#include "platform/paths.h"
#include "tools/glimmer/command_line.h"
#include "tools/glimmer/commands.h"

namespace glimmer {
namespace {

constexpr int kLongestPreview = 3660;

// `text` broken into lines of at most 80 columns at its spaces.
std::string Wrapped(const std::string& text) {
  std::string out, line;
  std::size_t at = 0;
  while (at < text.size()) {
    std::size_t space = text.find(' ', at);
    if (space == std::string::npos) space = text.size();
    const std::string word = text.substr(at, space - at);
    if (!line.empty() && line.size() + 1 + word.size() > 80) {
      out += line + "\n";
      line.clear();
    }
    line += (line.empty() ? "" : " ") + word;
    at = space + 1;
  }
  return out + line + "\n";
}

const std::string& Usage() {
  static const std::string usage =
      std::string(
          "Usage: glimmer calendar [--dir DIR] [--from YYYY-MM-DD] [--days N] [--json] [--check]\n"
          "Lists the nights of calendar.toml, one a line: the date and weekday, the start and\n"
          "end as local times with their dates, the volume, and the rule that decided the\n"
          "night (its name = \"...\" if it has one and its line in the file, and the rules it\n"
          "won over), with the dusk or dawn\n"
          "worked out where one was used; or no show, and why. The show plays these nights.\n\n") +
      Wrapped(calendar::kRuleSentence) +
      "A night belongs to its start date and runs past midnight when its end is earlier\n"
      "than its start; a night still running when the next one opens ends there.\n\n"
      "Options:\n"
      "  --dir DIR          the folder with calendar.toml (default: the player's folder,\n"
      "                     which 'glimmer --help' names)\n"
      "  --from YYYY-MM-DD  the first night (default: today)\n"
      "  --days N           how many nights (default 14)\n"
      "  --json             an array of objects with date, start and end (ISO 8601 local\n"
      "                     times with their UTC offset, or null for no show), volume,\n"
      "                     rule_line and reason\n"
      "  --check            only read the file and say whether it is sound\n"
      "  --help             this text\n\n"
      "Times are those of the local time zone (TZ). Exit status: 0; 1 when there is no\n"
      "calendar.toml, when it has a mistake (named with its line), or on a mistake in\n"
      "the arguments.\n";
  return usage;
}

}  // namespace

int RunCalendar(const std::vector<std::string>& args) {
  std::string dir;
  std::string from;
  int days = 14;
  bool json = false;
  bool check = false;
  CLI::App app;
  app.add_option("--dir", dir);
  app.add_option("--from", from);
  app.add_option("--days", days)->check(WholeNumberIn(1, kLongestPreview));
  app.add_flag("--json", json);
  app.add_flag("--check", check);
  if (auto ended = ParseArguments(app, "calendar", Usage().c_str(), args)) return *ended;
  if (dir.empty()) dir = platform::CurrentProgramFolders().data;

  calendar::Date first = calendar::ToLocal(static_cast<std::int64_t>(std::time(nullptr))).date;
  if (!from.empty()) {
    const std::optional<calendar::Date> date = calendar::ParseIsoDate(from);
    if (!date) {
      std::fprintf(stderr,
                   "glimmer calendar: --from: \"%s\" is not a date; write it as 2026-11-27\n",
                   from.c_str());
      return 1;
    }
    first = *date;
  }

  const calendar::CalendarText read = calendar::ReadCalendarText(dir);
  const std::string path = dir + "/" + calendar::kCalendarFileName;
  if (!read.exists) {
    std::fprintf(stderr,
                 "glimmer calendar: there is no %s; the show keeps to the daily window of the "
                 "Start Time and End Time lists\n",
                 path.c_str());
    return 1;
  }
  if (!read.error.empty()) {
    std::fprintf(stderr, "glimmer calendar: %s\n", read.error.c_str());
    return 1;
  }
  calendar::ParsedCalendar parsed = calendar::ParseCalendar(read.text);
  if (!parsed.calendar) {
    std::fprintf(stderr, "glimmer calendar: %s %s\n", path.c_str(), parsed.error.c_str());
    return 1;
  }
  if (check) {
    std::printf("%s is sound: %zu rule%s%s\n", path.c_str(), parsed.calendar->rules.size(),
                parsed.calendar->rules.size() == 1 ? "" : "s",
                parsed.calendar->location ? ", with a location for dusk and dawn" : "");
    return 0;
  }

  const calendar::Season season(std::move(*parsed.calendar));
  std::vector<calendar::Night> nights;
  for (int day = 0; day < days; ++day)
    nights.push_back(season.NightOf(calendar::AddDays(first, day)));
  if (json) {
    std::fputs(calendar::PreviewJson(nights).c_str(), stdout);
  } else {
    for (const calendar::Night& night : nights) {
      std::printf("%s\n", calendar::PreviewLine(night).c_str());
    }
  }
  return 0;
}

}  // namespace glimmer
