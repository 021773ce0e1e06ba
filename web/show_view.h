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
  int row = 0;  // list row, 0 first
  std::string title;
};

struct PlayingView {
  EntryView entry;
  double positionSeconds = 0;
  double lengthSeconds = 0;
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
};

struct HealthView {
  std::string lastCheck;            // date and time; empty: none yet
  std::string lastCheckResult;      // what it found, as the log says it
  std::vector<std::string> alerts;  // of the last 24 hours
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
};

class StatusSource {
 public:
  virtual ~StatusSource() = default;
  virtual ShowStatus Status() = 0;
  // The last `count` nights of the show log, oldest first.
  virtual std::vector<playback::NightSummary> Nights(int count) = 0;
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
