#include "calendar/calendar_file.h"

#include <toml++/toml.h>

#include "platform/file_store.h"
#include "platform/utf8_path.h"

#include <cctype>
#include <filesystem>
#include <sstream>

namespace calendar {
namespace {

// Far enough for dusk an hour or two either way; a bigger offset would move a
// night's start onto another date.
constexpr int kLongestOffset = 12 * 3600;
// A calendar is a few dozen lines; anything this size is not one.
constexpr std::uintmax_t kLargestFile = 256 * 1024;

constexpr const char* kDayNames = "Mon, Tue, Wed, Thu, Fri, Sat, Sun";
constexpr const char* kTimeForms =
    "write 5:30 PM, 17:30, 5:30:00 PM, sunset, sunset-10m or sunrise+1h";
constexpr const char* kDateForms = "write a month and day as 11-27, or a range as 11-27..01-06";

// The first mistake found; ParseCalendar turns it into the refusal.
struct Mistake {
  int line;
  std::string what;
};

[[noreturn]] void Refuse(int line, std::string what) {
  throw Mistake{line, std::move(what)};
}

int LineOf(const toml::node& node) {
  return static_cast<int>(node.source().begin.line);
}

std::string Quoted(std::string_view text) {
  return "\"" + std::string(text) + "\"";
}

// How a value is shown in a message: as the file writes it, where it is short.
std::string Shown(const toml::node& node) {
  if (const auto* text = node.as_string()) return Quoted(text->get());
  if (const auto* number = node.as_integer()) return std::to_string(number->get());
  if (const auto* number = node.as_floating_point()) {
    std::ostringstream out;
    out << number->get();
    return out.str();
  }
  if (const auto* flag = node.as_boolean()) return flag->get() ? "true" : "false";
  if (node.is_array()) return "a list";
  if (node.is_table()) return "a table";
  return "a date or time";
}

std::string_view Trim(std::string_view text) {
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front()))) {
    text.remove_prefix(1);
  }
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) {
    text.remove_suffix(1);
  }
  return text;
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(text[i])) != prefix[i]) return false;
  }
  return true;
}

// Up to `most` digits at `at`.
bool Digits(std::string_view text, std::size_t& at, int most, int& value) {
  const std::size_t begin = at;
  value = 0;
  while (at < text.size() && at - begin < static_cast<std::size_t>(most) &&
         std::isdigit(static_cast<unsigned char>(text[at]))) {
    value = value * 10 + (text[at] - '0');
    ++at;
  }
  return at > begin;
}

void Blanks(std::string_view text, std::size_t& at) {
  while (at < text.size() && text[at] == ' ') ++at;
}

std::optional<int> ParseClock(std::string_view text) {
  std::size_t at = 0;
  int hours = 0, minutes = 0, seconds = 0;
  if (!Digits(text, at, 2, hours)) return std::nullopt;
  if (at >= text.size() || text[at] != ':') return std::nullopt;
  ++at;
  const std::size_t minutesAt = at;
  if (!Digits(text, at, 2, minutes) || at - minutesAt != 2) return std::nullopt;
  if (at < text.size() && text[at] == ':') {
    ++at;
    const std::size_t secondsAt = at;
    if (!Digits(text, at, 2, seconds) || at - secondsAt != 2) return std::nullopt;
  }
  Blanks(text, at);
  const std::string_view half = text.substr(at);
  if (minutes > 59 || seconds > 59) return std::nullopt;
  if (half.empty()) {
    if (hours > 23) return std::nullopt;
  } else {
    const bool am = StartsWithNoCase(half, "am") && half.size() == 2;
    const bool pm = StartsWithNoCase(half, "pm") && half.size() == 2;
    if ((!am && !pm) || hours < 1 || hours > 12) return std::nullopt;
    hours = hours % 12 + (pm ? 12 : 0);
  }
  return hours * 3600 + minutes * 60 + seconds;
}

// "+15m", "- 10 m", "+1h", "+1h30m"; the empty text is no offset.
std::optional<int> ParseOffset(std::string_view text) {
  std::size_t at = 0;
  Blanks(text, at);
  if (at == text.size()) return 0;
  const char sign = text[at];
  if (sign != '+' && sign != '-') return std::nullopt;
  ++at;
  int total = 0;
  bool any = false;
  bool hoursSeen = false;
  for (;;) {
    Blanks(text, at);
    if (at == text.size()) break;
    int number = 0;
    if (!Digits(text, at, 4, number)) return std::nullopt;
    Blanks(text, at);
    if (at == text.size()) return std::nullopt;
    const char unit = static_cast<char>(std::tolower(static_cast<unsigned char>(text[at])));
    ++at;
    if (unit == 'h' && !hoursSeen && !any) {
      hoursSeen = true;
      total += number * 3600;
    } else if (unit == 'm') {
      if (StartsWithNoCase(text.substr(at), "in")) at += 2;
      total += number * 60;
      any = true;
      Blanks(text, at);
      if (at != text.size()) return std::nullopt;
      break;
    } else {
      return std::nullopt;
    }
    any = true;
  }
  if (!any || total > kLongestOffset) return std::nullopt;
  return sign == '-' ? -total : total;
}

std::optional<MonthDay> ParseMonthDay(std::string_view text) {
  text = Trim(text);
  if (text.size() != 5 || text[2] != '-') return std::nullopt;
  std::size_t at = 0;
  int month = 0, day = 0;
  if (!Digits(text, at, 2, month) || at != 2) return std::nullopt;
  at = 3;
  if (!Digits(text, at, 2, day) || at != 5) return std::nullopt;
  // Leap year: 02-29 is a date, which plays in the years that have it.
  if (month < 1 || month > 12 || day < 1 || day > DaysInMonth(2000, month)) return std::nullopt;
  return MonthDay{month, day};
}

int Ordinal(const MonthDay& md) {
  return static_cast<int>(DayNumber(Date{2000, md.month, md.day}) - DayNumber(Date{2000, 1, 1}));
}

void ReadDates(const toml::node& node, Rule& rule) {
  const int line = LineOf(node);
  const std::optional<std::string> text = node.value<std::string>();
  if (!node.is_string() || !text) {
    Refuse(line, "dates: " + Shown(node) + " is not a text; " + kDateForms);
  }
  const std::size_t dots = text->find("..");
  const std::string_view first =
      dots == std::string::npos ? std::string_view(*text) : std::string_view(*text).substr(0, dots);
  const std::string_view last =
      dots == std::string::npos ? first : std::string_view(*text).substr(dots + 2);
  const std::optional<MonthDay> from = ParseMonthDay(first);
  const std::optional<MonthDay> to = ParseMonthDay(last);
  if (!from || !to) {
    const std::string_view bad = !from ? Trim(first) : Trim(last);
    Refuse(line, "dates: " + Quoted(bad) + " is not a date; " + kDateForms);
  }
  rule.from = from;
  rule.to = to;
}

void ReadDays(const toml::node& node, Rule& rule) {
  const int line = LineOf(node);
  const toml::array* list = node.as_array();
  if (!list) {
    Refuse(line,
           "days: " + Shown(node) + " is not a list of days; write days = [\"Fri\", \"Sat\"]");
  }
  if (list->empty()) Refuse(line, "days: the list is empty; leave days out for every day");
  for (const toml::node& item : *list) {
    const std::optional<std::string> name = item.value<std::string>();
    if (!item.is_string() || !name) {
      Refuse(LineOf(item), "days: " + Shown(item) + " is not a day; use " + kDayNames);
    }
    std::string lower;
    for (char c : *name) lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    // "Sat" as the preview writes it, or "Saturday" as people do.
    static const char* const kFullNames[] = {"monday", "tuesday",  "wednesday", "thursday",
                                             "friday", "saturday", "sunday"};
    int found = -1;
    for (int day = 0; day < 7; ++day) {
      if (lower == kFullNames[day] || lower == std::string_view(kFullNames[day]).substr(0, 3)) {
        found = day;
      }
    }
    if (found < 0)
      Refuse(LineOf(item), "days: " + Quoted(*name) + " is not a day; use " + kDayNames);
    rule.days |= 1u << found;
  }
}

NightTime ReadTime(const toml::node& node, const char* key) {
  const int line = LineOf(node);
  const std::optional<std::string> text = node.value<std::string>();
  if (!node.is_string() || !text) {
    Refuse(line, std::string(key) + ": " + Shown(node) + " is not a time; " + kTimeForms);
  }
  const std::optional<NightTime> when = ParseNightTime(*text);
  if (!when) {
    Refuse(line, std::string(key) + ": " + Quoted(*text) + " is not a time; " + kTimeForms +
                     " (an offset of at most 12 hours)");
  }
  return *when;
}

Rule ReadRule(const toml::table& table, bool haveLocation) {
  Rule rule;
  rule.line = LineOf(table);
  int startLine = rule.line, endLine = rule.line;
  for (const auto& [key, node] : table) {
    const std::string_view name = key.str();
    if (name == "dates") {
      ReadDates(node, rule);
    } else if (name == "days") {
      ReadDays(node, rule);
    } else if (name == "start") {
      rule.start = ReadTime(node, "start");
      startLine = LineOf(node);
    } else if (name == "end") {
      rule.end = ReadTime(node, "end");
      endLine = LineOf(node);
    } else if (name == "volume") {
      const std::optional<std::int64_t> volume = node.value_exact<std::int64_t>();
      // 100.0 is a whole percent, only written as a fraction: say that, not
      // that it is not whole.
      if (const std::optional<double> number = node.value_exact<double>();
          node.is_floating_point() && number && *number >= 0 && *number <= 100 &&
          *number == static_cast<double>(static_cast<int>(*number))) {
        const std::string whole = std::to_string(static_cast<int>(*number));
        Refuse(LineOf(node), "volume: " + whole +
                                 ".0 has a decimal point; a percent is written as a whole number: "
                                 "volume = " +
                                 whole);
      }
      if (!node.is_integer() || !volume || *volume < 0 || *volume > 100) {
        Refuse(LineOf(node), "volume: " + Shown(node) +
                                 " is not a whole percent from 0 to 100; leave it out for 100");
      }
      rule.volume = static_cast<int>(*volume);
    } else if (name == "name") {
      const std::optional<std::string> text = node.value<std::string>();
      if (!node.is_string() || !text || text->empty()) {
        Refuse(LineOf(node), "name: " + Shown(node) +
                                 " is not a name; write name = \"Christmas week\" or leave it out");
      }
      rule.name = *text;
    } else if (name == "off") {
      if (!node.is_boolean()) {
        Refuse(LineOf(node), "off: " + Shown(node) + " is neither true nor false");
      }
      rule.off = *node.value<bool>();
    } else {
      Refuse(static_cast<int>(key.source().begin.line),
             Quoted(name) +
                 " is not a setting of a show; use dates, days, start, end, volume, off, name");
    }
  }
  if (rule.off) {
    if (rule.start || rule.end) {
      Refuse(rule.start ? startLine : endLine,
             "a show that is off has no start or end; leave them out, or write off = false");
    }
    return rule;
  }
  if (!rule.start) {
    Refuse(rule.line, "[[show]]: start is missing; a show needs start and end, or off = true");
  }
  if (!rule.end) {
    Refuse(rule.line, "[[show]]: end is missing; a show needs start and end, or off = true");
  }
  for (const auto& [when, line, key] :
       {std::tuple{*rule.start, startLine, "start"}, std::tuple{*rule.end, endLine, "end"}}) {
    if (when.kind != NightTime::Kind::Clock && !haveLocation) {
      Refuse(line, std::string(key) + ": " + Quoted(when.text) +
                       " needs the place: add [location] with latitude and longitude");
    }
  }
  if (rule.start->kind == NightTime::Kind::Clock && rule.end->kind == NightTime::Kind::Clock &&
      rule.start->seconds == rule.end->seconds) {
    Refuse(endLine, "end: " + Quoted(rule.end->text) +
                        " is the start time too; a night needs an end other than its start");
  }
  return rule;
}

double ReadDegrees(const toml::table& table, const char* key, double limit) {
  const toml::node* node = table.get(key);
  if (!node) {
    Refuse(LineOf(table), std::string("[location]: ") + key + " is missing");
  }
  const std::optional<double> value = node->value<double>();
  if (!(node->is_floating_point() || node->is_integer()) || !value || !(*value >= -limit) ||
      !(*value <= limit)) {
    char range[64];
    std::snprintf(range, sizeof range, "%g to %g", -limit, limit);
    Refuse(LineOf(*node),
           std::string(key) + ": " + Shown(*node) + " is not a number of degrees from " + range);
  }
  return *value;
}

Location ReadLocation(const toml::node& node) {
  const toml::table* table = node.as_table();
  if (!table) {
    Refuse(LineOf(node), "location: write [location] with latitude and longitude under it");
  }
  for (const auto& [key, value] : *table) {
    if (key.str() != "latitude" && key.str() != "longitude") {
      Refuse(static_cast<int>(key.source().begin.line),
             Quoted(key.str()) + " is not a setting of [location]; use latitude, longitude");
    }
  }
  return Location{ReadDegrees(*table, "latitude", 90.0), ReadDegrees(*table, "longitude", 180.0)};
}

// What the TOML reader found, said as an operator editing the file needs it:
// what to write, with the reader's own words last for what we do not know.
std::string SyntaxMistake(std::string_view reader) {
  const auto says = [&](std::string_view what) { return reader.find(what) != reader.npos; };
  std::string_view own = reader;
  if (constexpr std::string_view kIntro = "Error while parsing "; own.starts_with(kIntro)) {
    own.remove_prefix(kIntro.size());
  }
  const std::string detail = " (the TOML reader: " + std::string(own) + ")";
  if (says("redefin") || says("already defined")) {
    return "a setting or table is there twice; keep one" + detail;
  }
  // A text that runs on to the line's end meets its line break first.
  if (own.starts_with("string") || (says("string") && says("end-of"))) {
    return "a text is not closed; end it with \" on the same line" + detail;
  }
  if (says("header")) {
    return "a heading is not closed; write [location] or [[show]] on a line of its own" + detail;
  }
  if (says("array")) {
    return "a list is not closed; write days = [\"Fri\", \"Sat\"]" + detail;
  }
  if (says("key") || says("'='")) return "expected a setting written as name = value" + detail;
  return "this is not how calendar.toml is written" + detail;
}

CalendarFile ReadCalendar(const toml::table& root) {
  CalendarFile file;
  for (const auto& [key, node] : root) {
    if (key.str() == "location") {
      file.location = ReadLocation(node);
    } else if (key.str() != "show") {
      Refuse(static_cast<int>(key.source().begin.line),
             Quoted(key.str()) + " is not part of a calendar; use [location] and [[show]]");
    }
  }
  if (const toml::node* shows = root.get("show")) {
    const toml::array* list = shows->as_array();
    if (!list || !list->is_array_of_tables()) {
      Refuse(LineOf(*shows), "show: write [[show]] (two brackets) above each rule");
    }
    for (const toml::node& item : *list) {
      file.rules.push_back(ReadRule(*item.as_table(), file.location.has_value()));
    }
  }
  if (file.rules.empty()) {
    Refuse(1, "the calendar has no [[show]]; without one there is never a show");
  }
  return file;
}

}  // namespace

int Rule::DateCount() const {
  if (!from || !to) return 366;
  const int a = Ordinal(*from), b = Ordinal(*to);
  return b >= a ? b - a + 1 : 366 - a + b + 1;
}

bool Rule::Covers(const Date& date) const {
  if (days != 0 && (days & (1u << Weekday(date))) == 0) return false;
  if (!from || !to) return true;
  const int a = Ordinal(*from), b = Ordinal(*to);
  const int o = Ordinal(MonthDay{date.month, date.day});
  return a <= b ? (o >= a && o <= b) : (o >= a || o <= b);
}

std::string Rule::DatesText() const {
  if (!from || !to) return "every date";
  char text[32];
  if (from->month == to->month && from->day == to->day) {
    std::snprintf(text, sizeof text, "%02d-%02d", from->month, from->day);
  } else {
    std::snprintf(text, sizeof text, "%02d-%02d..%02d-%02d", from->month, from->day, to->month,
                  to->day);
  }
  return text;
}

std::optional<NightTime> ParseNightTime(std::string_view text) {
  const std::string_view trimmed = Trim(text);
  NightTime when;
  when.text = std::string(trimmed);
  for (const auto& [word, kind] :
       {std::pair{std::string_view("sunset"), NightTime::Kind::Sunset},
        std::pair{std::string_view("sunrise"), NightTime::Kind::Sunrise}}) {
    if (!StartsWithNoCase(trimmed, word)) continue;
    const std::optional<int> offset = ParseOffset(trimmed.substr(word.size()));
    if (!offset) return std::nullopt;
    when.kind = kind;
    when.seconds = *offset;
    return when;
  }
  const std::optional<int> clock = ParseClock(trimmed);
  if (!clock) return std::nullopt;
  when.kind = NightTime::Kind::Clock;
  when.seconds = *clock;
  return when;
}

ParsedCalendar ParseCalendar(std::string_view text) {
  ParsedCalendar parsed;
  try {
    const toml::table root = toml::parse(text);
    parsed.calendar = ReadCalendar(root);
  } catch (const toml::parse_error& e) {
    parsed.error = "line " + std::to_string(e.source().begin.line) + ", column " +
                   std::to_string(e.source().begin.column) + ": " + SyntaxMistake(e.description());
  } catch (const Mistake& m) {
    parsed.error = "line " + std::to_string(m.line) + ": " + m.what;
  }
  return parsed;
}

// Through the program's one rule for reading: a folder, pipe or device in
// the file's place is refused before it is opened.
CalendarText ReadCalendarText(const std::string& folder) {
  CalendarText read;
  const std::string path = platform::PathText(platform::FilePath(folder) / kCalendarFileName);
  if (platform::KindOfPath(path) == platform::FileKind::Missing) {
    // A link that leads nowhere was meant to be the calendar: its mistake
    // keeps the yard dark and is told, where the lists' window would play
    // on unnoticed.
    const std::string broken = platform::BrokenLinkReason(path);
    if (broken.empty()) return read;
    read.exists = true;
    read.error = std::string(kCalendarFileName) + " cannot be read: " + broken;
    return read;
  }
  read.exists = true;
  platform::Result<std::string> bytes = platform::ReadRegularFile(path, kLargestFile);
  if (!bytes) {
    read.error = std::string(kCalendarFileName) + " cannot be read: " + bytes.message();
    return read;
  }
  read.text = std::move(bytes).value();
  return read;
}

}  // namespace calendar
