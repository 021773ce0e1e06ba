#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/file_store.h"

namespace watch {

// The show log at `path` with its `generations` older files before it,
// oldest first, read through the one rule for reading: a pipe, a folder or
// a device there is refused at once, never waited on.
struct ShowLogText {
  std::string text;
  bool found = false;   // any of the files is there
  std::string problem;  // "cannot read <path>: <why>"; empty when all were read
};
ShowLogText ReadShowLog(platform::FileStore& files, const std::string& path, int generations);

// A night that played less than this share of its window is told about.
inline constexpr int kShortNightPercent = 90;

// What a night asked for against what it played, read from the show log. A
// night runs from noon to noon and carries the date of its evening.
struct NightPlayed {
  std::string date;        // "2026-12-24"
  int windowSeconds = -1;  // -1: the log does not say which window it had
  // Of the window, the time the show was asked to play: from a start or the
  // window's opening to a stop or its closing. -1 when the log holds no start
  // or opening for the night (then the window counts).
  int askedSeconds = -1;
  int playedSeconds = 0;  // from each song's start to its end or stop
  int songs = 0;          // entries that played to their end
  int skipped = 0;        // entries that could not play
  int skippedByRequest = 0;
  int lateKeepAlives = 0;
  int portLosses = 0;
  int silentSongs = 0;
  // Share of the time asked (or of the window) played, 0 to 100; -1 when
  // that is unknown or none.
  int Percent() const;
  // The seconds the show was asked to play, within the window; -1 when the
  // window is unknown.
  int AskedOfWindow() const;
  bool Short() const { return Percent() >= 0 && Percent() < kShortNightPercent; }
};

// The nights of a log's text, oldest first.
std::vector<NightPlayed> ExpectedAgainstPlayed(std::string_view logText);

// "Night of 2026-12-24: played 312 of 330 minutes (94 %), 41 songs, 1 skipped,
// 0 late keep-alives, 1 port loss, 0 silent": of the minutes asked.
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
