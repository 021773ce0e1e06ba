#include "playback/show_event.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "playback/show_calendar.h"
#include "playback/show_scheduler.h"

namespace playback {
namespace {

using Kind = ShowEventKind;

constexpr std::string_view kSkippedOnRequest = "skipped on request";
constexpr std::string_view kDailyWindow = "Show paused: waiting for its daily window ";
constexpr std::string_view kCalendarNext = "Show paused: waiting for the calendar's next night, ";
constexpr std::string_view kCalendarNone =
    "Show paused: the calendar has no night to come within a year";
constexpr std::string_view kCalendarRefused = "Show paused: the calendar cannot be used: ";
constexpr std::string_view kResumed = "Show resumed: inside its daily window";
constexpr std::string_view kNightWindow = "Night window: ";
constexpr std::string_view kLatency = ": the audio output reports a latency of ";
constexpr std::string_view kLatencyTail =
    " ms: the sound is heard that long after it is handed over";
constexpr std::string_view kLateKeepAlive = "Late keep-alive: ";
constexpr std::string_view kLateKeepAliveTail = " seconds since the one before";
constexpr std::string_view kNoRealtime = "Timing may suffer when the computer is busy: ";
constexpr std::string_view kNightCheck = "Check before the night: ";
constexpr std::string_view kAlertCommand = "Alert command";
constexpr std::string_view kRepeated = "(the line before repeated ";
// "Import of \"/home/op/carol.msq\" failed: The archive ... is damaged ..."
constexpr std::string_view kImportFailed = "Import of \"";
constexpr std::string_view kImportFailedTail = "\" failed: ";

std::string Entry(int row) {
  return "Entry " + std::to_string(row + 1);
}

std::string Who(std::string_view what, const std::string& who) {
  return std::string(what) + " (" + who + ")";
}

bool StartsWith(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

bool EndsWith(std::string_view text, std::string_view suffix) {
  return text.size() >= suffix.size() && text.substr(text.size() - suffix.size()) == suffix;
}

// Cuts `prefix` off `text`; false (and `text` untouched) when it is not there.
bool Take(std::string_view& text, std::string_view prefix) {
  if (!StartsWith(text, prefix)) return false;
  text.remove_prefix(prefix.size());
  return true;
}

bool TakeTail(std::string_view& text, std::string_view suffix) {
  if (!EndsWith(text, suffix)) return false;
  text.remove_suffix(suffix.size());
  return true;
}

bool IsDigits(std::string_view text) {
  return !text.empty() &&
         std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// A whole number of at most nine digits, so it cannot overflow.
std::optional<int> Number(std::string_view digits) {
  if (!IsDigits(digits) || digits.size() > 9) return std::nullopt;
  int value = 0;
  for (char c : digits) value = value * 10 + (c - '0');
  return value;
}

// "(X)" at the end of `text`, for the requests and the start and stop.
std::optional<std::string> Parenthesised(std::string_view text, std::string_view what) {
  if (!Take(text, what) || !Take(text, " (") || !TakeTail(text, ")")) return std::nullopt;
  return std::string(text);
}

// "S to E": the window's two times as written.
bool SplitWindow(std::string_view range, ShowEvent& event) {
  const std::size_t to = range.find(" to ");
  if (to == std::string_view::npos) return false;
  event.start = std::string(range.substr(0, to));
  event.end = std::string(range.substr(to + 4));
  return true;
}

ShowEvent Made(Kind kind) {
  ShowEvent event;
  event.kind = kind;
  return event;
}

ShowEvent WithText(Kind kind, std::string_view text) {
  ShowEvent event = Made(kind);
  event.text = std::string(text);
  return event;
}

// "Entry N ..." lines; nothing when `text` is not one or does not read back.
std::optional<ShowEvent> ParseEntry(std::string_view text) {
  if (!Take(text, "Entry ")) return std::nullopt;
  std::size_t digits = 0;
  while (digits < text.size() && text[digits] >= '0' && text[digits] <= '9') ++digits;
  const std::optional<int> number = Number(text.substr(0, digits));
  if (!number || *number < 1) return std::nullopt;
  text.remove_prefix(digits);
  ShowEvent event;
  event.row = *number - 1;
  if (Take(text, " started: ")) {
    event.kind = Kind::EntryStarted;
    event.text = std::string(text);
  } else if (text == " finished") {
    event.kind = Kind::EntryFinished;
  } else if (text == " stopped") {
    event.kind = Kind::EntryStopped;
  } else if (Take(text, " skipped: ")) {
    event.kind = text == kSkippedOnRequest ? Kind::EntryCut : Kind::EntrySkipped;
    if (event.kind == Kind::EntrySkipped) event.text = std::string(text);
  } else if (Take(text, " plays silently: ")) {
    event.kind = Kind::PlaysSilently;
    event.text = std::string(text);
  } else if (Take(text, kLatency) && TakeTail(text, kLatencyTail)) {
    const std::optional<int> ms = Number(text);
    if (!ms) return std::nullopt;
    event.kind = Kind::HighOutputLatency;
    event.ms = *ms;
  } else if (Take(text, " line late: up to ")) {
    // "<ms> ms at <at> (<baud> baud)"
    const std::size_t msEnd = text.find(" ms at ");
    const std::size_t open = text.rfind(" (");
    if (msEnd == std::string_view::npos || open == std::string_view::npos || open < msEnd ||
        !EndsWith(text, " baud)")) {
      return std::nullopt;
    }
    const std::optional<int> ms = Number(text.substr(0, msEnd));
    const std::optional<int> baud =
        Number(text.substr(open + 2, text.size() - open - 2 - std::string_view(" baud)").size()));
    if (!ms || !baud) return std::nullopt;
    event.kind = Kind::LineLate;
    event.ms = *ms;
    event.baud = *baud;
    event.at = std::string(text.substr(msEnd + 7, open - msEnd - 7));
  } else {
    return std::nullopt;
  }
  return event;
}

// "Port P opened", "Port P back", "Port P lost: R".
std::optional<ShowEvent> ParsePort(std::string_view text) {
  if (!Take(text, "Port ")) return std::nullopt;
  ShowEvent event;
  if (const std::size_t lost = text.find(" lost: "); lost != std::string_view::npos) {
    event.kind = Kind::PortLost;
    event.port = std::string(text.substr(0, lost));
    event.text = std::string(text.substr(lost + 7));
  } else if (TakeTail(text, " back")) {
    event.kind = Kind::PortBack;
    event.port = std::string(text);
  } else if (TakeTail(text, " opened")) {
    event.kind = Kind::PortOpened;
    event.port = std::string(text);
  } else {
    return std::nullopt;
  }
  return event;
}

std::optional<ShowEvent> ParseShow(std::string_view text) {
  if (auto who = Parenthesised(text, "Show started")) {
    ShowEvent event = Made(Kind::ShowStarted);
    event.who = std::move(*who);
    return event;
  }
  if (auto who = Parenthesised(text, "Show stopped")) {
    ShowEvent event = Made(Kind::ShowStopped);
    event.who = std::move(*who);
    return event;
  }
  if (auto who = Parenthesised(text, "Stop after this song asked")) {
    ShowEvent event = Made(Kind::StopAfterSongAsked);
    event.who = std::move(*who);
    return event;
  }
  if (auto who = Parenthesised(text, "Skip to the next entry asked")) {
    ShowEvent event = Made(Kind::SkipAsked);
    event.who = std::move(*who);
    return event;
  }
  std::string_view rest = text;
  if (Take(rest, "Show ended: ")) return WithText(Kind::ShowEnded, rest);
  if (text == kResumed) return Made(Kind::Resumed);
  if (text == kCalendarNone) return Made(Kind::PausedByCalendar);
  if (text == std::string("Show paused: ") + kStartAfterEndText) {
    return Made(Kind::PausedNeverOpens);
  }
  if (Take(rest, kCalendarNext)) return WithText(Kind::PausedByCalendar, rest);
  if (Take(rest, kCalendarRefused)) return WithText(Kind::PausedCalendarRefused, rest);
  if (ShowEvent event = Made(Kind::Paused); Take(rest, kDailyWindow) && SplitWindow(rest, event)) {
    return event;
  }
  rest = text;
  if (ShowEvent event = Made(Kind::NightWindow);
      Take(rest, kNightWindow) && SplitWindow(rest, event)) {
    return event;
  }
  return std::nullopt;
}

// The lines of the watch, the alerts and the front ends.
std::optional<ShowEvent> ParseOther(std::string_view text) {
  struct Prefixed {
    std::string_view prefix;
    Kind kind;
  };
  static constexpr Prefixed kPrefixed[] = {
      {kNoRealtime, Kind::NoRealtime},
      {"Import: ", Kind::ImportLine},
      {"Settings not saved: ", Kind::SettingsNotSaved},
      {"Playlist not saved: ", Kind::PlaylistNotSaved},
      {"Phone page on ", Kind::PhonePageOn},
      {"Phone page off: ", Kind::PhonePageOff},
      {kNightCheck, Kind::NightCheck},
      {"Service manager not told: ", Kind::ServiceNotTold},
  };
  for (const Prefixed& one : kPrefixed) {
    if (std::string_view rest = text; Take(rest, one.prefix)) return WithText(one.kind, rest);
  }
  // The archive cannot hold a double quote (its command line could not
  // carry one), so the first quote and colon after it end its path.
  if (std::string_view rest = text; Take(rest, kImportFailed)) {
    if (const std::size_t tail = rest.find(kImportFailedTail); tail != std::string_view::npos) {
      ShowEvent event = WithText(Kind::ImportFailed, rest.substr(tail + kImportFailedTail.size()));
      event.name = std::string(rest.substr(0, tail));
      return event;
    }
  }
  if (StartsWith(text, kAlertCommand)) return WithText(Kind::AlertCommand, text);
  if (std::string_view rest = text; Take(rest, "Alert ")) {
    const std::size_t colon = rest.find(": ");
    if (colon == std::string_view::npos || colon == 0 ||
        rest.substr(0, colon).find(' ') != std::string_view::npos) {
      return std::nullopt;
    }
    ShowEvent event = WithText(Kind::AlertRaised, rest.substr(colon + 2));
    event.name = std::string(rest.substr(0, colon));
    return event;
  }
  if (std::string_view rest = text;
      Take(rest, kLateKeepAlive) && TakeTail(rest, kLateKeepAliveTail)) {
    if (const std::optional<int> seconds = Number(rest)) {
      ShowEvent event = Made(Kind::LateKeepAlive);
      event.seconds = *seconds;
      return event;
    }
  }
  if (std::string_view rest = text; Take(rest, kRepeated)) {
    for (std::string_view tail : {" more time)", " more times)"}) {
      std::string_view count = rest;
      if (!TakeTail(count, tail)) continue;
      if (const std::optional<int> n = Number(count); n && (*n == 1) == (tail == " more time)")) {
        ShowEvent event = Made(Kind::Repeated);
        event.count = *n;
        return event;
      }
    }
  }
  return std::nullopt;
}

// Days since 1970-01-01 of a civil date (proleptic Gregorian).
std::int64_t DaysFromCivil(int y, int m, int d) {
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int yoe = static_cast<int>(y - era * 400);
  const int doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const int doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

std::string CivilFromDays(std::int64_t z) {
  z += 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const std::int64_t doe = z - era * 146097;
  const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const std::int64_t mp = (5 * doy + 2) / 153;
  const std::int64_t d = doy - (153 * mp + 2) / 5 + 1;
  const std::int64_t m = mp + (mp < 10 ? 3 : -9);
  const std::int64_t y = yoe + era * 400 + (m <= 2);
  char text[64];
  std::snprintf(text, sizeof text, "%04lld-%02lld-%02lld", static_cast<long long>(y),
                static_cast<long long>(m), static_cast<long long>(d));
  return text;
}

int DaysIn(int year, int month) {
  static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return kDays[month - 1] + (month == 2 && leap ? 1 : 0);
}

ShowEvent Of(Kind kind, int row, std::string_view text) {
  ShowEvent event = WithText(kind, text);
  event.row = row;
  return event;
}

ShowEvent By(Kind kind, std::string_view who) {
  ShowEvent event = Made(kind);
  event.who = std::string(who);
  return event;
}

ShowEvent Window(Kind kind, std::string_view start, std::string_view end) {
  ShowEvent event = Made(kind);
  event.start = std::string(start);
  event.end = std::string(end);
  return event;
}

ShowEvent OnPort(Kind kind, std::string_view port, std::string_view reason = {}) {
  ShowEvent event = WithText(kind, reason);
  event.port = std::string(port);
  return event;
}

}  // namespace

namespace show_event {

ShowEvent ShowStarted(std::string_view by) {
  return By(Kind::ShowStarted, by);
}
ShowEvent ShowStopped(std::string_view by) {
  return By(Kind::ShowStopped, by);
}
ShowEvent ShowEnded(std::string_view why) {
  return WithText(Kind::ShowEnded, why);
}
ShowEvent Paused(std::string_view start, std::string_view end) {
  return Window(Kind::Paused, start, end);
}
ShowEvent PausedNeverOpens() {
  return Made(Kind::PausedNeverOpens);
}
ShowEvent PausedByCalendar(std::string_view next) {
  return WithText(Kind::PausedByCalendar, next);
}
ShowEvent PausedCalendarRefused(std::string_view problem) {
  return WithText(Kind::PausedCalendarRefused, problem);
}
ShowEvent Resumed() {
  return Made(Kind::Resumed);
}
ShowEvent NightWindow(std::string_view start, std::string_view end) {
  return Window(Kind::NightWindow, start, end);
}
ShowEvent EntryStarted(int row, std::string_view listText) {
  return Of(Kind::EntryStarted, row, listText);
}
ShowEvent EntryFinished(int row) {
  return Of(Kind::EntryFinished, row, {});
}
ShowEvent EntryStopped(int row) {
  return Of(Kind::EntryStopped, row, {});
}
ShowEvent EntrySkipped(int row, std::string_view reason) {
  return Of(Kind::EntrySkipped, row, reason);
}
ShowEvent EntryCut(int row) {
  return Of(Kind::EntryCut, row, {});
}
ShowEvent StopAfterSongAsked(std::string_view by) {
  return By(Kind::StopAfterSongAsked, by);
}
ShowEvent SkipAsked(std::string_view by) {
  return By(Kind::SkipAsked, by);
}
ShowEvent PlaysSilently(int row, std::string_view reason) {
  return Of(Kind::PlaysSilently, row, reason);
}
ShowEvent HighOutputLatency(int row, double seconds) {
  ShowEvent event = Of(Kind::HighOutputLatency, row, {});
  event.ms = static_cast<int>(std::lround(seconds * 1000));
  return event;
}
ShowEvent PortOpened(std::string_view port) {
  return OnPort(Kind::PortOpened, port);
}
ShowEvent PortBack(std::string_view port) {
  return OnPort(Kind::PortBack, port);
}
ShowEvent PortLost(std::string_view port, std::string_view reason) {
  return OnPort(Kind::PortLost, port, reason);
}
ShowEvent LateKeepAlive(int seconds) {
  ShowEvent event = Made(Kind::LateKeepAlive);
  event.seconds = seconds;
  return event;
}
ShowEvent NoRealtime(std::string_view why) {
  return WithText(Kind::NoRealtime, why.empty() ? "no real-time priority" : why);
}
ShowEvent NothingPlayable(std::string_view lastProblem) {
  return WithText(Kind::NothingPlayable, lastProblem);
}
ShowEvent ImportLine(std::string_view text) {
  return WithText(Kind::ImportLine, text);
}
ShowEvent ImportFailed(std::string_view archive, std::string_view why) {
  // A message box's paragraphs; the log keeps one line per event.
  std::string line;
  for (char c : why) {
    const bool breaks = c == '\r' || c == '\n';
    if (!breaks) {
      line += c;
    } else if (!line.empty() && line.back() != ' ') {
      line += ' ';
    }
  }
  while (!line.empty() && line.back() == ' ') line.pop_back();
  ShowEvent event = WithText(Kind::ImportFailed, line);
  event.name = std::string(archive);
  return event;
}
ShowEvent LineLate(int row, int ms, std::string_view at, int baud) {
  ShowEvent event = Of(Kind::LineLate, row, {});
  event.ms = ms;
  event.at = std::string(at);
  event.baud = baud;
  return event;
}
ShowEvent SettingsNotSaved(std::string_view reason) {
  return WithText(Kind::SettingsNotSaved, reason);
}
ShowEvent PlaylistNotSaved(std::string_view reason) {
  return WithText(Kind::PlaylistNotSaved, reason);
}
ShowEvent PhonePageOn(std::string_view url) {
  return WithText(Kind::PhonePageOn, url);
}
ShowEvent PhonePageOff(std::string_view why) {
  return WithText(Kind::PhonePageOff, why);
}
ShowEvent NightCheck(std::string_view result) {
  return WithText(Kind::NightCheck, result);
}
ShowEvent AlertRaised(std::string_view name, std::string_view text) {
  ShowEvent event = WithText(Kind::AlertRaised, text);
  event.name = std::string(name);
  return event;
}
ShowEvent Said(std::string_view text) {
  return ParseShowEvent(text);
}

}  // namespace show_event

std::string Describe(const ShowEvent& e) {
  switch (e.kind) {
    case Kind::ShowStarted:
      return Who("Show started", e.who);
    case Kind::ShowStopped:
      return Who("Show stopped", e.who);
    case Kind::ShowEnded:
      return "Show ended: " + e.text;
    case Kind::EntryStarted:
      return Entry(e.row) + " started: " + e.text;
    case Kind::EntryFinished:
      return Entry(e.row) + " finished";
    case Kind::EntryStopped:
      return Entry(e.row) + " stopped";
    case Kind::EntrySkipped:
      return Entry(e.row) + " skipped: " + e.text;
    case Kind::EntryCut:
      return Entry(e.row) + " skipped: " + std::string(kSkippedOnRequest);
    case Kind::StopAfterSongAsked:
      return Who("Stop after this song asked", e.who);
    case Kind::SkipAsked:
      return Who("Skip to the next entry asked", e.who);
    case Kind::Paused:
      return std::string(kDailyWindow) + e.start + " to " + e.end;
    case Kind::PausedNeverOpens:
      return std::string("Show paused: ") + kStartAfterEndText;
    case Kind::PausedByCalendar:
      return e.text.empty() ? std::string(kCalendarNone) : std::string(kCalendarNext) + e.text;
    case Kind::PausedCalendarRefused:
      return std::string(kCalendarRefused) + e.text;
    case Kind::Resumed:
      return std::string(kResumed);
    case Kind::NightWindow:
      return std::string(kNightWindow) + e.start + " to " + e.end;
    case Kind::PortOpened:
      return "Port " + e.port + " opened";
    case Kind::PortLost:
      return "Port " + e.port + " lost: " + e.text;
    case Kind::PortBack:
      return "Port " + e.port + " back";
    case Kind::PlaysSilently:
      return Entry(e.row) + " plays silently: " + e.text;
    case Kind::HighOutputLatency:
      return Entry(e.row) + std::string(kLatency) + std::to_string(e.ms) +
             std::string(kLatencyTail);
    case Kind::LineLate:
      return Entry(e.row) + " line late: up to " + std::to_string(e.ms) + " ms at " + e.at + " (" +
             std::to_string(e.baud) + " baud)";
    case Kind::LateKeepAlive:
      return std::string(kLateKeepAlive) + std::to_string(e.seconds) +
             std::string(kLateKeepAliveTail);
    case Kind::NoRealtime:
      return std::string(kNoRealtime) + e.text;
    case Kind::SettingsNotSaved:
      return "Settings not saved: " + e.text;
    case Kind::PlaylistNotSaved:
      return "Playlist not saved: " + e.text;
    case Kind::ImportLine:
      return "Import: " + e.text;
    case Kind::ImportFailed:
      return std::string(kImportFailed) + e.name + std::string(kImportFailedTail) + e.text;
    case Kind::PhonePageOn:
      return "Phone page on " + e.text;
    case Kind::PhonePageOff:
      return "Phone page off: " + e.text;
    case Kind::NightCheck:
      return std::string(kNightCheck) + e.text;
    case Kind::AlertRaised:
      return "Alert " + e.name + ": " + e.text;
    case Kind::AlertCommand:
    case Kind::ServiceNotTold:
      return e.kind == Kind::ServiceNotTold ? "Service manager not told: " + e.text : e.text;
    case Kind::Repeated:
      return std::string(kRepeated) + std::to_string(e.count) +
             (e.count == 1 ? " more time)" : " more times)");
    case Kind::Other:
      return e.text;
    case Kind::NightOpened:
    case Kind::NightClosed:
    case Kind::NothingPlayable:
    case Kind::Notice:
      return {};
  }
  return {};
}

ShowEvent ParseShowEvent(std::string_view text) {
  if (std::optional<ShowEvent> entry = ParseEntry(text)) return *entry;
  if (std::optional<ShowEvent> port = ParsePort(text)) return *port;
  if (std::optional<ShowEvent> show = ParseShow(text)) return *show;
  if (std::optional<ShowEvent> other = ParseOther(text)) return *other;
  return WithText(Kind::Other, text);
}

std::optional<ShowLogLine> ParseShowLogLine(std::string_view line) {
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  if (line.size() < 20 || line[4] != '-' || line[7] != '-' || line[10] != ' ' || line[13] != ':' ||
      line[16] != ':' || line[19] != ' ') {
    return std::nullopt;
  }
  const std::optional<int> year = Number(line.substr(0, 4));
  const std::optional<int> month = Number(line.substr(5, 2));
  const std::optional<int> day = Number(line.substr(8, 2));
  const std::optional<int> hour = Number(line.substr(11, 2));
  const std::optional<int> minute = Number(line.substr(14, 2));
  const std::optional<int> second = Number(line.substr(17, 2));
  // A month or day that does not exist is no date, and must not index the
  // table of month lengths.
  if (!year || !month || !day || !hour || !minute || !second || *year < 1 || *month < 1 ||
      *month > 12 || *day < 1 || *day > DaysIn(*year, *month) || *hour > 23 || *minute > 59 ||
      *second > 60) {
    return std::nullopt;
  }
  ShowLogLine read;
  read.stamp = std::string(line.substr(0, 19));
  read.seconds = DaysFromCivil(*year, *month, *day) * 86400 + *hour * 3600 + *minute * 60 + *second;
  // Noon to noon: shifted by twelve hours, the day is the evening's.
  const std::int64_t shifted = read.seconds - 12 * 3600;
  read.evening = CivilFromDays(shifted >= 0 ? shifted / 86400 : (shifted - 86399) / 86400);
  std::string_view text = line.substr(20);
  // Lines since the offset from UTC was added: "+0100 " after the time.
  if (text.size() >= 6 && (text[0] == '+' || text[0] == '-') && IsDigits(text.substr(1, 4)) &&
      text[5] == ' ') {
    text.remove_prefix(6);
  }
  read.text = std::string(text);
  read.event = ParseShowEvent(text);
  return read;
}

void ForEachShowLogLine(std::string_view logText,
                        const std::function<void(std::string_view)>& take) {
  std::size_t from = 0;
  while (from < logText.size()) {
    std::size_t end = logText.find('\n', from);
    if (end == std::string_view::npos) end = logText.size();
    std::string_view line = logText.substr(from, end - from);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    take(line);
    from = end + 1;
  }
}

void ApplyToState(ShowState& state, const ShowEvent& event) {
  ShowState::Line& line = state.line;
  switch (event.kind) {
    case Kind::ShowStarted: {
      // A new show: the line's health so far was the last show's.
      std::string port = std::move(line.port);
      line = ShowState::Line();
      line.port = std::move(port);
      state.stopAfterSongAsked = false;
      state.latestNotice.clear();
      break;
    }
    case Kind::EntryStarted:
      state.playing = ShowState::Playing{};
      state.playing->entry.row = event.row;
      state.playing->entry.listText = event.text;
      break;
    case Kind::EntryFinished:
    case Kind::EntryCut:
      line.known = true;
      state.playing.reset();
      break;
    case Kind::EntryStopped:
    case Kind::EntrySkipped:
      state.playing.reset();
      break;
    case Kind::Paused:
    case Kind::PausedNeverOpens:
    case Kind::PausedByCalendar:
      state.playing.reset();
      break;
    case Kind::PausedCalendarRefused:
      state.playing.reset();
      state.window.problem = event.text;
      break;
    case Kind::PortOpened:
    case Kind::PortBack:
      line.port = event.port;
      line.portOpen = true;
      line.portLost = false;
      line.lostReason.clear();
      break;
    case Kind::PortLost:
      line.port = event.port;
      line.portOpen = false;
      line.portLost = true;
      line.lostReason = event.text;
      // No keep-alive reaches the controllers now, whatever the last gap was.
      state.keepAliveGapSeconds = -1;
      state.keepAliveLate = false;
      break;
    case Kind::LineLate:
      line.known = true;
      ++line.lateEntries;
      line.lastLate = Describe(event);
      break;
    case Kind::StopAfterSongAsked:
      state.stopAfterSongAsked = true;
      break;
    case Kind::Notice:
      state.latestNotice = event.text;
      break;
    default:
      break;
  }
}

ShowState::Phase PhaseOfStatus(std::string_view statusText) {
  if (statusText == kRunningText) return ShowState::Phase::Playing;
  if (statusText == kPausedText) return ShowState::Phase::Waiting;
  return ShowState::Phase::Stopped;
}

ShowEventBus::Token ShowEventBus::Subscribe(Handler handler) {
  const Token token = next_++;
  handlers_.push_back({token, std::move(handler)});
  return token;
}

void ShowEventBus::Unsubscribe(Token token) {
  std::erase_if(handlers_, [token](const Entry& entry) { return entry.token == token; });
}

void ShowEventBus::Publish(const ShowEvent& event) const {
  // By token, looked up afresh: a handler may subscribe or cancel others
  // while the event goes round, and one cancelled is not called any more.
  std::vector<Token> tokens;
  tokens.reserve(handlers_.size());
  for (const Entry& entry : handlers_) tokens.push_back(entry.token);
  for (const Token token : tokens) {
    const auto found = std::find_if(handlers_.begin(), handlers_.end(),
                                    [token](const Entry& entry) { return entry.token == token; });
    if (found == handlers_.end()) continue;
    const Handler handler = found->handler;  // the entry may go while it runs
    handler(event);
  }
}

}  // namespace playback
