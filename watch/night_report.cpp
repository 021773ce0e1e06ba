#include "watch/night_report.h"

#include <algorithm>
#include <cstdio>
#include <optional>

#include "playback/show_calendar.h"

namespace watch {
namespace {

constexpr std::string_view kNightWindow = "Night window: ";
constexpr std::string_view kPausedPrefix = "Show paused: waiting for its daily window ";

bool StartsWith(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

bool Contains(std::string_view text, std::string_view piece) {
  return text.find(piece) != std::string_view::npos;
}

// Days since 1970-01-01 of a civil date (proleptic Gregorian).
long long DaysFromCivil(int y, int m, int d) {
  y -= m <= 2;
  const long long era = (y >= 0 ? y : y - 399) / 400;
  const int yoe = static_cast<int>(y - era * 400);
  const int doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const int doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

std::string CivilFromDays(long long z) {
  z += 719468;
  const long long era = (z >= 0 ? z : z - 146096) / 146097;
  const long long doe = z - era * 146097;
  const long long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const long long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const long long mp = (5 * doy + 2) / 153;
  const long long d = doy - (153 * mp + 2) / 5 + 1;
  const long long m = mp + (mp < 10 ? 3 : -9);
  const long long y = yoe + era * 400 + (m <= 2);
  char text[64];
  std::snprintf(text, sizeof text, "%04lld-%02lld-%02lld", y, m, d);
  return text;
}

bool Digits(std::string_view text) {
  return !text.empty() &&
         std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

int Number(std::string_view text) {
  int value = 0;
  for (char c : text) value = value * 10 + (c - '0');
  return value;
}

// Seconds since 1970 (as if UTC) of a line's "YYYY-MM-DD HH:MM:SS ".
std::optional<long long> LineTime(std::string_view line) {
  if (line.size() < 20 || line[4] != '-' || line[7] != '-' || line[10] != ' ' || line[13] != ':' ||
      line[16] != ':' || line[19] != ' ' || !Digits(line.substr(0, 4)) ||
      !Digits(line.substr(5, 2)) || !Digits(line.substr(8, 2)) || !Digits(line.substr(11, 2)) ||
      !Digits(line.substr(14, 2)) || !Digits(line.substr(17, 2))) {
    return std::nullopt;
  }
  const int month = Number(line.substr(5, 2));
  const int day = Number(line.substr(8, 2));
  if (month < 1 || month > 12 || day < 1 || day > 31) return std::nullopt;
  return DaysFromCivil(Number(line.substr(0, 4)), month, day) * 86400LL +
         Number(line.substr(11, 2)) * 3600LL + Number(line.substr(14, 2)) * 60LL +
         Number(line.substr(17, 2));
}

bool IsOffset(std::string_view text) {
  return text.size() >= 6 && (text[0] == '+' || text[0] == '-') && Digits(text.substr(1, 4)) &&
         text[5] == ' ';
}

// "A to B" at the end of an event: the window's length in seconds, 0 for one
// that never opens, nothing when the texts are not times.
std::optional<int> WindowSeconds(std::string_view range) {
  const std::size_t to = range.find(" to ");
  if (to == std::string_view::npos) return std::nullopt;
  const std::optional<int> start = playback::ParseTimeOfDay(range.substr(0, to));
  const std::optional<int> end = playback::ParseTimeOfDay(range.substr(to + 4));
  if (!start || !end) return std::nullopt;
  // A calendar's night may run past midnight.
  return *end >= *start ? *end - *start : *end + 24 * 3600 - *start;
}

bool IsEntry(std::string_view event, std::string_view what) {
  if (!StartsWith(event, "Entry ")) return false;
  std::size_t at = 6;
  while (at < event.size() && event[at] >= '0' && event[at] <= '9') ++at;
  return at > 6 && StartsWith(event.substr(at), what);
}

bool IsCleanEnd(std::string_view event) {
  return StartsWith(event, "Show stopped (") || StartsWith(event, "Show ended: ");
}

}  // namespace

void ForEachLogLine(std::string_view logText, const std::function<void(std::string_view)>& take) {
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

std::string_view LogLineEvent(std::string_view line) {
  if (!LineTime(line)) return {};
  std::string_view event = line.substr(20);
  if (IsOffset(event)) event.remove_prefix(6);
  return event;
}

int NightPlayed::Percent() const {
  if (windowSeconds <= 0) return -1;
  return std::min(100, static_cast<int>(100LL * playedSeconds / windowSeconds));
}

std::string NightWindowEvent(std::string_view start, std::string_view end) {
  return std::string(kNightWindow) + std::string(start) + " to " + std::string(end);
}

std::vector<NightPlayed> ExpectedAgainstPlayed(std::string_view logText) {
  std::vector<NightPlayed> nights;
  bool songOpen = false;
  long long songStart = 0;
  long long lastTime = 0;
  const auto closeSong = [&](long long at) {
    if (songOpen && !nights.empty()) {
      nights.back().playedSeconds += static_cast<int>(std::max(0LL, at - songStart));
    }
    songOpen = false;
  };
  ForEachLogLine(logText, [&](std::string_view line) {
    const std::optional<long long> time = LineTime(line);
    if (!time) return;
    // Noon to noon: shift by twelve hours and take the day.
    const long long shifted = *time - 12 * 3600;
    const long long evening = shifted >= 0 ? shifted / 86400 : (shifted - 86399) / 86400;
    const std::string date = CivilFromDays(evening);
    if (nights.empty() || nights.back().date != date) {
      closeSong(lastTime);
      nights.push_back(NightPlayed{date});
    }
    lastTime = *time;
    NightPlayed& night = nights.back();
    const std::string_view event = LogLineEvent(line);
    if (IsEntry(event, " started: ")) {
      closeSong(*time);
      songOpen = true;
      songStart = *time;
      ++night.songs;
    } else if (IsEntry(event, " finished") || IsEntry(event, " stopped")) {
      closeSong(*time);
    } else if (IsEntry(event, " skipped: ")) {
      ++night.skipped;
    } else if (IsEntry(event, " plays silently: ")) {
      ++night.silentSongs;
    } else if (StartsWith(event, "Late keep-alive")) {
      ++night.lateKeepAlives;
    } else if (StartsWith(event, "Port ") && Contains(event, " lost: ")) {
      ++night.portLosses;
    } else if (StartsWith(event, kNightWindow)) {
      if (auto seconds = WindowSeconds(event.substr(kNightWindow.size()))) {
        night.windowSeconds = *seconds;
      }
    } else if (StartsWith(event, kPausedPrefix)) {
      if (auto seconds = WindowSeconds(event.substr(kPausedPrefix.size()))) {
        if (night.windowSeconds < 0) night.windowSeconds = *seconds;
      }
    } else if (StartsWith(event, "Show started") || IsCleanEnd(event)) {
      // A song under way when the show ended (or the program died) played
      // until then, as far as the log can tell.
      closeSong(*time);
    }
  });
  closeSong(lastTime);
  return nights;
}

std::string DescribeNight(const NightPlayed& night) {
  const auto count = [](int n, const char* one, const char* many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
  };
  std::string text =
      "Night of " + night.date + ": played " + std::to_string(night.playedSeconds / 60) + " of ";
  if (night.windowSeconds < 0) {
    text += "? minutes (window unknown)";
  } else {
    text += std::to_string(night.windowSeconds / 60) + " minutes";
    if (night.Percent() >= 0) text += " (" + std::to_string(night.Percent()) + " %)";
  }
  text += ", " + count(night.songs, "song", "songs") + ", " + std::to_string(night.skipped) +
          " skipped, " + count(night.lateKeepAlives, "late keep-alive", "late keep-alives") + ", " +
          count(night.portLosses, "port loss", "port losses") + ", " +
          std::to_string(night.silentSongs) + " silent";
  return text;
}

bool Restarted(std::string_view autostartFlag, std::string_view logText) {
  if (autostartFlag != "1") return false;
  std::size_t end = logText.size();
  while (end > 0) {
    const std::size_t begin = logText.rfind('\n', end - 1);
    const std::size_t from = begin == std::string_view::npos ? 0 : begin + 1;
    const std::string_view line = logText.substr(from, end - from);
    if (LineTime(line)) return !IsCleanEnd(LogLineEvent(line));
    if (from == 0) break;
    end = from - 1;
  }
  return false;
}

bool AlreadyAlerted(std::string_view logText, std::string_view event, std::string_view text) {
  const std::string alerted = "Alert " + std::string(event) + ": " + std::string(text);
  bool told = false;
  ForEachLogLine(logText, [&](std::string_view line) {
    const std::string_view said = LogLineEvent(line);
    if (said == alerted) {
      told = true;
    } else if (said.substr(0, 12) == "Show started") {
      told = false;
    }
  });
  return told;
}

}  // namespace watch
