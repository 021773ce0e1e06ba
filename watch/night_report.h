#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace watch {

// A night that played less than this share of its window is told about.
inline constexpr int kShortNightPercent = 90;

// What a night asked for against what it played, read from the show log. A
// night runs from noon to noon and carries the date of its evening.
struct NightPlayed {
  std::string date;        // "2026-12-24"
  int windowSeconds = -1;  // -1: the log does not say which window it had
  int playedSeconds = 0;   // from each song's start to its end or stop
  int songs = 0;
  int skipped = 0;
  int lateKeepAlives = 0;
  int portLosses = 0;
  int silentSongs = 0;
  // Share of the window played, 0 to 100; -1 when the window is unknown or
  // never opens.
  int Percent() const;
  bool Short() const { return Percent() >= 0 && Percent() < kShortNightPercent; }
};

// The show log line that names the night's window, so that the log alone
// tells what was expected ("5:30:00 PM", "11:00:00 PM").
std::string NightWindowEvent(std::string_view start, std::string_view end);

// The event of a show log line: what follows "YYYY-MM-DD HH:MM:SS " and the
// offset from UTC ("+0100 ") that lines carry since it was added. Empty for a
// line without a time.
std::string_view LogLineEvent(std::string_view line);

// Each line of a log's text in order, without its line end ("\n" or "\r\n").
void ForEachLogLine(std::string_view logText, const std::function<void(std::string_view)>& take);

// The nights of a log's text, oldest first.
std::vector<NightPlayed> ExpectedAgainstPlayed(std::string_view logText);

// "Night of 2026-12-24: played 312 of 330 minutes (94 %), 41 songs, 1 skipped,
// 0 late keep-alives, 1 port loss, 0 silent".
std::string DescribeNight(const NightPlayed& night);

// The show came back after a crash or a watchdog's kill: it was running (the
// autostart flag is "1") and the log's last line is not a stop or an end the
// show wrote itself. A log with no lines yet is no restart.
bool Restarted(std::string_view autostartFlag, std::string_view logText);

// The log already holds the alert `event` with `text`, and no show has
// started since: the same trouble seen again by a show the service manager
// starts anew, which the operator has been told of.
bool AlreadyAlerted(std::string_view logText, std::string_view event, std::string_view text);

}  // namespace watch
