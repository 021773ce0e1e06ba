#include "playback/show_log.h"

#include <cmath>
#include <cstdio>
#include <optional>
#include <utility>

namespace playback {

ShowLog::ShowLog(platform::LogFile& file, std::function<std::string()> now,
                 std::function<void(const std::string&)> onFailure)
    : file_(file), now_(std::move(now)), onFailure_(std::move(onFailure)) {}

void ShowLog::Write(const std::string& whole) {
  std::string event = whole;
  if (event.size() > kMaxEventBytes) {
    event.resize(kMaxEventBytes);
    // Not inside a UTF-8 character.
    while (!event.empty() && (static_cast<unsigned char>(event.back()) & 0xC0) == 0x80) {
      event.pop_back();
    }
    if (!event.empty() && static_cast<unsigned char>(event.back()) >= 0xC0) event.pop_back();
    event += "... (" + std::to_string(whole.size() - event.size()) + " more bytes)";
  }
  if (event == last_) {
    if (++repeats_ < kMaxRepeats) return;
  }
  if (repeats_ > 0) {
    Append("(the line before repeated " + std::to_string(repeats_) +
           (repeats_ == 1 ? " more time)" : " more times)"));
  }
  const bool repeated = event == last_;
  repeats_ = 0;
  last_ = std::move(event);
  if (!repeated) Append(last_);
}

void ShowLog::Append(const std::string& event) {
  // One event, one line: a line break inside a reason would split it.
  std::string line = now_() + " " + event;
  for (char& c : line) {
    if (c == '\r' || c == '\n') c = ' ';
  }
  const platform::Status written = file_.AppendLine(line);
  if (written.ok() || failed_) return;
  failed_ = true;
  if (onFailure_) onFailure_(written.message());
}

namespace show_event {
namespace {

std::string Entry(int row) {
  return "Entry " + std::to_string(row + 1);
}

}  // namespace

std::string ShowStarted(std::string_view by) {
  return "Show started (" + std::string(by) + ")";
}
std::string ShowStopped(std::string_view by) {
  return "Show stopped (" + std::string(by) + ")";
}
std::string ShowEnded(std::string_view why) {
  return "Show ended: " + std::string(why);
}
std::string Paused(std::string_view start, std::string_view end) {
  return "Show paused: waiting for its daily window " + std::string(start) + " to " +
         std::string(end);
}
std::string Resumed() {
  return "Show resumed: inside its daily window";
}
std::string EntryStarted(int row, std::string_view listText) {
  return Entry(row) + " started: " + std::string(listText);
}
std::string EntryFinished(int row) {
  return Entry(row) + " finished";
}
std::string EntryStopped(int row) {
  return Entry(row) + " stopped";
}
std::string EntrySkipped(int row, std::string_view reason) {
  return Entry(row) + " skipped: " + std::string(reason);
}
std::string StopAfterSongAsked(std::string_view by) {
  return "Stop after this song asked (" + std::string(by) + ")";
}
std::string SkipAsked(std::string_view by) {
  return "Skip to the next entry asked (" + std::string(by) + ")";
}
std::string PlaysSilently(int row, std::string_view reason) {
  return Entry(row) + " plays silently: " + std::string(reason);
}
std::string HighOutputLatency(int row, double seconds) {
  return Entry(row) + ": the audio output reports a latency of " +
         std::to_string(static_cast<long long>(std::lround(seconds * 1000))) +
         " ms: the sound is heard that long after it is handed over";
}
std::string PortOpened(std::string_view port, bool again) {
  return "Port " + std::string(port) + (again ? " back" : " opened");
}
std::string PortLost(std::string_view port, std::string_view reason) {
  return "Port " + std::string(port) + " lost: " + std::string(reason);
}
std::string LateKeepAlive(int seconds) {
  return "Late keep-alive: " + std::to_string(seconds) + " seconds since the one before";
}
std::string NoRealtime(std::string_view why) {
  return "Timing may suffer when the computer is busy: " +
         std::string(why.empty() ? "no real-time priority" : why);
}
std::string ImportLine(std::string_view text) {
  return "Import: " + std::string(text);
}
std::string LineLate(int row, int ms, std::string_view at, int baud) {
  return Entry(row) + " line late: up to " + std::to_string(ms) + " ms at " + std::string(at) +
         " (" + std::to_string(baud) + " baud)";
}
std::string SettingsNotSaved(std::string_view reason) {
  return "Settings not saved: " + std::string(reason);
}
std::string PlaylistNotSaved(std::string_view reason) {
  return "Playlist not saved: " + std::string(reason);
}

}  // namespace show_event

namespace {

bool IsDigits(std::string_view text) {
  for (char c : text) {
    if (c < '0' || c > '9') return false;
  }
  return !text.empty();
}

int DaysIn(int year, int month) {
  static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return kDays[month - 1] + (month == 2 && leap ? 1 : 0);
}

int Number(std::string_view digits) {
  int value = 0;
  for (char c : digits) value = value * 10 + (c - '0');
  return value;
}

// The evening a line belongs to: its date, or the day before for a line
// before noon. Nothing for a line without a real "YYYY-MM-DD HH:MM:SS ".
std::optional<std::string> Evening(std::string_view line) {
  if (line.size() < 20 || line[4] != '-' || line[7] != '-' || line[10] != ' ' || line[13] != ':' ||
      line[16] != ':' || line[19] != ' ' || !IsDigits(line.substr(0, 4)) ||
      !IsDigits(line.substr(5, 2)) || !IsDigits(line.substr(8, 2)) ||
      !IsDigits(line.substr(11, 2)) || !IsDigits(line.substr(14, 2)) ||
      !IsDigits(line.substr(17, 2))) {
    return std::nullopt;
  }
  int year = Number(line.substr(0, 4));
  int month = Number(line.substr(5, 2));
  int day = Number(line.substr(8, 2));
  const int hour = Number(line.substr(11, 2));
  // A month or day that does not exist is no date, and must not index the
  // table of month lengths.
  if (year < 1 || month < 1 || month > 12 || day < 1 || day > DaysIn(year, month) || hour > 23 ||
      Number(line.substr(14, 2)) > 59 || Number(line.substr(17, 2)) > 60) {
    return std::nullopt;
  }
  if (hour < 12 && --day == 0) {
    if (--month == 0) {
      month = 12;
      --year;
    }
    day = DaysIn(year, month);
  }
  char text[48];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d", year, month, day);
  return std::string(text);
}

bool StartsWith(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

bool Contains(std::string_view text, std::string_view piece) {
  return text.find(piece) != std::string_view::npos;
}

// What follows "Entry N" in an entry's event, or nothing for another event.
std::string_view EntryEvent(std::string_view event) {
  if (!StartsWith(event, "Entry ")) return {};
  std::size_t at = 6;
  while (at < event.size() && event[at] >= '0' && event[at] <= '9') ++at;
  return at > 6 ? event.substr(at) : std::string_view();
}

}  // namespace

std::vector<NightSummary> SummarizeShowLog(std::string_view text, int* notUnderstood) {
  std::vector<NightSummary> nights;
  if (notUnderstood != nullptr) *notUnderstood = 0;
  std::size_t at = 0;
  while (at < text.size()) {
    std::size_t end = text.find('\n', at);
    if (end == std::string_view::npos) end = text.size();
    const std::string_view line = text.substr(at, end - at);
    at = end + 1;
    const std::optional<std::string> evening = Evening(line);
    if (!evening) {
      if (notUnderstood != nullptr && !line.empty() && line != "\r") ++*notUnderstood;
      continue;
    }
    std::string_view event = line.substr(20);
    // Lines since the offset from UTC was added: "+0100 " after the time.
    if (event.size() >= 6 && (event[0] == '+' || event[0] == '-') && IsDigits(event.substr(1, 4)) &&
        event[5] == ' ') {
      event.remove_prefix(6);
    }
    if (nights.empty() || nights.back().date != *evening) {
      nights.push_back(NightSummary{*evening});
    }
    NightSummary& night = nights.back();
    if (StartsWith(event, "Show started")) {
      ++night.shows;
    } else if (EntryEvent(event) == " finished") {
      ++night.played;
    } else if (StartsWith(EntryEvent(event), " skipped: ")) {
      ++night.skipped;
    } else if (StartsWith(EntryEvent(event), " line late: ")) {
      ++night.lateLines;
    } else if (StartsWith(event, "Late keep-alive")) {
      ++night.lateKeepAlives;
    } else if (StartsWith(event, "Port ") && Contains(event, " lost: ")) {
      ++night.portLosses;
    }
  }
  return nights;
}

}  // namespace playback
