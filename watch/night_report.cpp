#include "watch/night_report.h"

#include <algorithm>
#include <cstdint>
#include <optional>

#include "playback/show_calendar.h"
#include "playback/show_event.h"

namespace watch {
namespace {

using playback::ShowEventKind;

// "A to B": the window's length in seconds, 0 for one that never opens,
// nothing when the texts are not times.
std::optional<int> WindowSeconds(const playback::ShowEvent& event) {
  const std::optional<int> start = playback::ParseTimeOfDay(event.start);
  const std::optional<int> end = playback::ParseTimeOfDay(event.end);
  if (!start || !end) return std::nullopt;
  // A calendar's night may run past midnight.
  return *end >= *start ? *end - *start : *end + 24 * 3600 - *start;
}

bool IsCleanEnd(const playback::ShowEvent& event) {
  return event.kind == ShowEventKind::ShowStopped || event.kind == ShowEventKind::ShowEnded;
}

// Lines the watch writes about itself, also after the show's own last line
// (an alert command stopped as the program ends): they say nothing of how
// the show ended.
bool IsTheWatchsOwn(ShowEventKind kind) {
  return kind == ShowEventKind::AlertRaised || kind == ShowEventKind::AlertCommand ||
         kind == ShowEventKind::ServiceNotTold || kind == ShowEventKind::Repeated;
}

bool IsPaused(ShowEventKind kind) {
  return kind == ShowEventKind::Paused || kind == ShowEventKind::PausedNeverOpens ||
         kind == ShowEventKind::PausedByCalendar || kind == ShowEventKind::PausedCalendarRefused;
}

// The moment the window named by `event` (at `lineTime`) ends: on the line's
// day, or the next when that time has passed (a night past midnight).
std::optional<std::int64_t> WindowEndAt(const playback::ShowEvent& event, std::int64_t lineTime) {
  const std::optional<int> end = playback::ParseTimeOfDay(event.end);
  if (!end) return std::nullopt;
  std::int64_t at = lineTime - ((lineTime % 86400) + 86400) % 86400 + *end;
  if (at < lineTime) at += 86400;
  return at;
}

// The offset from UTC a line carries after its time ("+0100 "), in
// seconds; 0 for a line written before the log carried it.
std::int64_t UtcOffset(std::string_view line) {
  if (line.size() < 26 || (line[20] != '+' && line[20] != '-') || line[25] != ' ') return 0;
  int digits[4] = {};
  for (int i = 0; i < 4; ++i) {
    const char c = line[21 + i];
    if (c < '0' || c > '9') return 0;
    digits[i] = c - '0';
  }
  const std::int64_t seconds =
      (digits[0] * 10 + digits[1]) * 3600 + (digits[2] * 10 + digits[3]) * 60;
  return line[20] == '-' ? -seconds : seconds;
}

// An interval of the log's time: a song playing, or the show asked to play.
struct Span {
  bool open = false;
  std::int64_t from = 0;

  void Begin(std::int64_t at) {
    open = true;
    from = at;
  }
  // Adds the time since Begin to `total`.
  void End(std::int64_t at, int& total) {
    if (!open) return;
    total = std::max(total, 0) + static_cast<int>(std::max<std::int64_t>(0, at - from));
    open = false;
  }
};

// The rotation keeps files of a megabyte; one that could not rotate keeps
// growing, but a file this large is not a show log.
constexpr std::uintmax_t kLargestLog = 256 * 1024 * 1024;

}  // namespace

ShowLogText ReadShowLog(platform::FileStore& files, const std::string& path, int generations) {
  ShowLogText read;
  for (int generation = generations; generation >= 0; --generation) {
    const std::string one = generation == 0 ? path : path + "." + std::to_string(generation);
    if (platform::KindOfPath(one) == platform::FileKind::Missing) continue;
    read.found = true;
    platform::Result<std::string> text = files.ReadWholeFile(one, kLargestLog);
    if (!text) {
      read.problem = "cannot read " + one + ": " + text.message();
      return read;
    }
    read.text += text.value();
  }
  return read;
}

int NightPlayed::AskedOfWindow() const {
  if (windowSeconds < 0) return -1;
  return askedSeconds >= 0 ? std::min(askedSeconds, windowSeconds) : windowSeconds;
}

int NightPlayed::Percent() const {
  const int asked = AskedOfWindow();
  if (asked <= 0) return -1;
  return std::min(100, static_cast<int>(100LL * playedSeconds / asked));
}

std::vector<NightPlayed> ExpectedAgainstPlayed(std::string_view logText) {
  std::vector<NightPlayed> nights;
  Span song, asked;
  std::int64_t lastTime = 0;
  std::int64_t lastOffset = 0;
  // When the last night's window closes (local time), as far as the log
  // names it.
  std::optional<std::int64_t> windowEnd;
  const auto closeAll = [&](std::int64_t at) {
    if (nights.empty()) return;
    song.End(at, nights.back().playedSeconds);
    asked.End(at, nights.back().askedSeconds);
  };
  playback::ForEachShowLogLine(logText, [&](std::string_view text) {
    const std::optional<playback::ShowLogLine> line = playback::ParseShowLogLine(text);
    if (!line) return;
    // Durations on the one clock that does not jump at a change of daylight
    // saving time: a song from 01:59:45 +0100 to 03:00:15 +0200 played 30 s.
    const std::int64_t offset = UtcOffset(text);
    const std::int64_t time = line->seconds - offset;
    if (nights.empty() || nights.back().date != line->evening) {
      // A show that runs past noon goes on asking in the next night.
      const bool askedOn = asked.open;
      closeAll(lastTime);
      nights.push_back(NightPlayed{line->evening});
      windowEnd.reset();
      if (askedOn) asked.Begin(time);
    }
    lastTime = time;
    lastOffset = offset;
    NightPlayed& night = nights.back();
    const playback::ShowEvent& event = line->event;
    switch (event.kind) {
      case ShowEventKind::EntryStarted:
        song.End(time, night.playedSeconds);
        song.Begin(time);
        // A show that plays was asked to, whether or not the log says since when.
        if (!asked.open) {
          asked.Begin(time);
          night.askedSeconds = std::max(night.askedSeconds, 0);
        }
        break;
      case ShowEventKind::EntryFinished:
        ++night.songs;
        song.End(time, night.playedSeconds);
        break;
      case ShowEventKind::EntryStopped:
        song.End(time, night.playedSeconds);
        break;
      case ShowEventKind::EntryCut:
        ++night.skippedByRequest;
        song.End(time, night.playedSeconds);
        break;
      case ShowEventKind::EntrySkipped:
        // An entry that could not play took no time of the night's.
        song.open = false;
        ++night.skipped;
        break;
      case ShowEventKind::PlaysSilently:
        ++night.silentSongs;
        break;
      case ShowEventKind::LateKeepAlive:
        ++night.lateKeepAlives;
        break;
      case ShowEventKind::PortLost:
        ++night.portLosses;
        break;
      case ShowEventKind::NightWindow:
        if (auto seconds = WindowSeconds(event)) night.windowSeconds = *seconds;
        windowEnd = WindowEndAt(event, line->seconds);
        break;
      case ShowEventKind::Paused:
        if (auto seconds = WindowSeconds(event); seconds && night.windowSeconds < 0) {
          night.windowSeconds = *seconds;
          windowEnd = WindowEndAt(event, line->seconds);
        }
        asked.End(time, night.askedSeconds);
        break;
      case ShowEventKind::ShowStarted:
      case ShowEventKind::Resumed:
        // A song under way when the program died played until then, as far
        // as the log can tell.
        song.End(time, night.playedSeconds);
        asked.End(time, night.askedSeconds);
        asked.Begin(time);
        night.askedSeconds = std::max(night.askedSeconds, 0);
        break;
      default:
        if (IsPaused(event.kind)) {
          asked.End(time, night.askedSeconds);
        } else if (IsCleanEnd(event)) {
          song.End(time, night.playedSeconds);
          asked.End(time, night.askedSeconds);
        }
        break;
    }
  });
  // A show still asked to play when the log ends (the summary at the
  // window's close, a program that died) was asked until the window closed.
  // Its closing on the clock as the last line reads it.
  if (asked.open && windowEnd && *windowEnd - lastOffset > lastTime && !nights.empty()) {
    asked.End(*windowEnd - lastOffset, nights.back().askedSeconds);
  }
  closeAll(lastTime);
  return nights;
}

std::string DescribeNight(const NightPlayed& night) {
  const auto count = [](int n, const char* one, const char* many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
  };
  const int asked = night.AskedOfWindow();
  std::string text =
      "Night of " + night.date + ": played " + std::to_string(night.playedSeconds / 60) + " of ";
  if (asked < 0) {
    text += "? minutes (window unknown)";
  } else {
    text += std::to_string(asked / 60) + " minutes";
    if (night.Percent() >= 0) text += " (" + std::to_string(night.Percent()) + " %)";
  }
  text += ", " + count(night.songs, "song", "songs") + ", " + std::to_string(night.skipped) +
          " skipped, ";
  if (night.skippedByRequest > 0) {
    text += std::to_string(night.skippedByRequest) + " skipped by request, ";
  }
  text += count(night.lateKeepAlives, "late keep-alive", "late keep-alives") + ", " +
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
    if (const auto line = playback::ParseShowLogLine(logText.substr(from, end - from));
        line && !IsTheWatchsOwn(line->event.kind)) {
      return !IsCleanEnd(line->event);
    }
    if (from == 0) break;
    end = from - 1;
  }
  return false;
}

bool AlreadyAlerted(std::string_view logText, std::string_view event, std::string_view text) {
  bool told = false;
  playback::ForEachShowLogLine(logText, [&](std::string_view raw) {
    const auto line = playback::ParseShowLogLine(raw);
    if (!line) return;
    if (line->event.kind == ShowEventKind::AlertRaised && line->event.name == event &&
        line->event.text == text) {
      told = true;
    } else if (line->event.kind == ShowEventKind::ShowStarted) {
      told = false;
    }
  });
  return told;
}

}  // namespace watch
