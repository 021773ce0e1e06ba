#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/status.h"
#include "playback/show_log.h"

// What the phone page sees of a show and what it may ask of it. The show
// implements both; the page's server reads and calls them only from the
// show's own thread, at its yield points.
namespace web {

enum class ShowState { Stopped, Paused, Running };

std::string_view StateName(ShowState state);

struct EntryView {
  int row = 0;               // list row, 0 first
  std::string title;         // the song's title, without the archive it came from
  std::string archive = {};  // the archive's path, for the details
};

struct PlayingView {
  EntryView entry;
  double positionSeconds = 0;
  double lengthSeconds = 0;
  // Nothing until the song's length is known.
  std::optional<double> remainingSeconds = {};
};

// The daily window and when the show plays next.
struct WindowView {
  std::string start;  // "5:30:00 PM" as set
  std::string end;
  bool openNow = false;
  // Seconds until the window opens next; nothing when it is open or never
  // opens (a start after the end).
  std::optional<int> opensInSeconds;
  // Why the calendar cannot be used ("calendar.toml line 7: ..."); empty
  // when it can.
  std::string problem;
  int volumePercent = 100;
  // "Fri 27 Nov, 5:12 PM (sunset + 15 min)"; empty when none is to come.
  std::string nextOpening = {};
};

// The serial port the controllers hang on.
struct PortView {
  std::string name;  // "COM1"
  bool open = false;
  bool lost = false;  // lost during the show and not back yet
  std::string reason;
};

struct AlertView {
  std::string at;  // "YYYY-MM-DD HH:MM:SS"
  std::string event;
  std::string text;
};

struct HealthView {
  std::string lastCheck;                   // date and time; empty: none yet
  std::string lastCheckResult;             // what it found, as the log says it
  std::vector<std::string> alerts;         // of the last 24 hours, oldest first
  std::vector<AlertView> alertItems = {};  // the same, newest first
};

struct LineHealthView {
  std::string summary;  // as the show words it
  bool ok = true;
};

struct ShowStatus {
  ShowState state = ShowState::Stopped;
  std::string statusText;
  std::string notice;  // the last notice, empty when none
  std::optional<PlayingView> playing;
  std::optional<EntryView> next;
  std::optional<WindowView> window;
  int keepAliveGapSeconds = 0;
  int lateKeepAlives = 0;              // gaps of two seconds or more since the show started
  bool stopAfterSong = false;          // asked for and not yet done
  std::optional<HealthView> health;    // where health checks exist
  std::optional<LineHealthView> line;  // where the line's health is known
  std::optional<PortView> port = {};   // where the show has one
};

// A night's window against what played, as `glimmer log` sums it up.
struct NightPlayedView {
  std::string date;        // "2026-12-24", the evening the night belongs to
  int windowMinutes = -1;  // of the window asked to play; -1: not known
  int playedMinutes = 0;
  int percent = -1;  // of the window played; -1: not known
  bool isShort = false;
};

class StatusSource {
 public:
  virtual ~StatusSource() = default;
  virtual ShowStatus Status() = 0;
  // The last `count` nights of the show log, oldest first.
  virtual std::vector<playback::NightSummary> Nights(int count) = 0;
  // The last `count` nights' windows against what played, oldest first.
  virtual std::vector<NightPlayedView> NightsPlayed(int count) {
    (void)count;
    return {};
  }
};

// Each request names who asked, for the show log. An error says why the show
// could not do it now (a Start while it runs, a Skip with nothing playing).
class ControlSink {
 public:
  virtual ~ControlSink() = default;
  virtual platform::Status Start(std::string_view who) = 0;
  virtual platform::Status Stop(std::string_view who) = 0;
  virtual platform::Status StopAfterSong(std::string_view who) = 0;
  virtual platform::Status Skip(std::string_view who) = 0;
};

}  // namespace web
