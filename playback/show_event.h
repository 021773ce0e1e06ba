#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// What happens in a show, as one typed value that every front end and
// observer reads alike. The show log is this value written as a line, and
// read back by the same pair of functions, so a line's wording and what the
// readers look for cannot drift apart.
namespace playback {

enum class ShowEventKind {
  // The show as a whole. `who`: "Start button", "autostart", ...
  ShowStarted,
  ShowStopped,
  ShowEnded,  // `text`: why
  // An entry, `row` 0 first.
  EntryStarted,   // `text`: its list text
  EntryFinished,  // played to its end
  EntryStopped,   // the show stopped under it
  EntrySkipped,   // `text`: why it could not play
  EntryCut,       // skipped on request while it played
  // Requests taken at the show's next check. `who`: the origin.
  StopAfterSongAsked,
  SkipAsked,
  // Waiting for the window: the daily window `start` to `end`, ...
  Paused,
  PausedNeverOpens,       // a daily window that starts after it ends
  PausedByCalendar,       // `text`: the calendar's next night; empty for none within a year
  PausedCalendarRefused,  // `text`: what is wrong with the calendar
  Resumed,
  // The night's window as the check before it names it (`start`, `end`).
  NightWindow,
  // Tonight's window opened and closed, as the show's calendar gives it.
  // Not written to the log: the night's lines already say so.
  NightOpened,
  NightClosed,
  // The serial port; `port` "COM1", `text` why it was lost.
  PortOpened,
  PortLost,
  PortBack,
  // Sound and timing of an entry.
  PlaysSilently,      // `row`, `text`: why
  HighOutputLatency,  // `row`, `ms`
  LineLate,           // `row`, `ms` at `at` ("1:23"), `baud`
  LateKeepAlive,      // `seconds` since the one before
  NoRealtime,         // `text`: why
  // Every entry was skipped; the show tries again. `text`: the last problem.
  // Not written to the log: each skip has its line.
  NothingPlayable,
  // Something the operator should read beside the status (`text`); not logged.
  Notice,
  // The front ends' own.
  SettingsNotSaved,  // `text`: why
  PlaylistNotSaved,
  ImportLine,    // `text`: what an import found the line will make of it
  ImportFailed,  // `name`: the archive as the user picked it; `text`: why, on one line
  PhonePageOn,   // `text`: the address
  PhonePageOff,  // `text`: why
  // The watch over the show.
  NightCheck,      // `text`: the check's result ("all well (...)")
  AlertRaised,     // `name`: "port-lost", ...; `text`
  AlertCommand,    // `text`: how the alert command ran ("Alert command said: ...")
  ServiceNotTold,  // `text`: what the service manager could not be told
  // "(the line before repeated N more times)"; `count`.
  Repeated,
  // Any other line (a message of the watch, a line of an older program),
  // kept word for word in `text`.
  Other,
};

struct ShowEvent {
  ShowEventKind kind = ShowEventKind::Other;
  int row = -1;
  std::string who;
  std::string text;
  std::string port;
  std::string name;
  std::string start;
  std::string end;
  std::string at;
  int ms = 0;
  int baud = 0;
  int seconds = 0;
  int count = 0;

  bool operator==(const ShowEvent&) const = default;
};

// The events as the show makes them.
namespace show_event {
ShowEvent ShowStarted(std::string_view by);  // by: "Start button", "autostart", ...
ShowEvent ShowStopped(std::string_view by);  // by: "Stop button", "window closed", ...
ShowEvent ShowEnded(std::string_view why);
ShowEvent Paused(std::string_view start, std::string_view end);
ShowEvent PausedNeverOpens();
ShowEvent PausedByCalendar(std::string_view next);  // next: empty for none within a year
ShowEvent PausedCalendarRefused(std::string_view problem);
ShowEvent Resumed();
ShowEvent NightWindow(std::string_view start, std::string_view end);
ShowEvent EntryStarted(int row, std::string_view listText);
ShowEvent EntryFinished(int row);
ShowEvent EntryStopped(int row);
ShowEvent EntrySkipped(int row, std::string_view reason);
ShowEvent EntryCut(int row);
ShowEvent StopAfterSongAsked(std::string_view by);
ShowEvent SkipAsked(std::string_view by);
ShowEvent PlaysSilently(int row, std::string_view reason);
ShowEvent HighOutputLatency(int row, double seconds);
ShowEvent PortOpened(std::string_view port);
ShowEvent PortBack(std::string_view port);
ShowEvent PortLost(std::string_view port, std::string_view reason);
ShowEvent LateKeepAlive(int seconds);
// The dispatch runs at ordinary priority.
ShowEvent NoRealtime(std::string_view why);
ShowEvent NothingPlayable(std::string_view lastProblem);
// What an import found the serial line will make of the new sequence.
ShowEvent ImportLine(std::string_view text);
// An import that added nothing: the archive the user picked and what the
// user was told, its paragraphs joined into one line.
ShowEvent ImportFailed(std::string_view archive, std::string_view why);
// The worst lateness at the controllers of an entry's messages on the line model.
ShowEvent LineLate(int row, int ms, std::string_view at, int baud);
ShowEvent SettingsNotSaved(std::string_view reason);
ShowEvent PlaylistNotSaved(std::string_view reason);
ShowEvent PhonePageOn(std::string_view url);
ShowEvent PhonePageOff(std::string_view why);
ShowEvent NightCheck(std::string_view result);
ShowEvent AlertRaised(std::string_view name, std::string_view text);
ShowEvent Said(std::string_view text);  // a line of the watch in its own words
}  // namespace show_event

// The line the log keeps of `event` (without its date and time); empty for a
// kind the log does not keep.
std::string Describe(const ShowEvent& event);

// The inverse of Describe: the event a log line's text stands for.
ShowEvent ParseShowEvent(std::string_view text);

// One line of show.log: "YYYY-MM-DD HH:MM:SS [+HHMM ]event".
struct ShowLogLine {
  std::string stamp;  // "YYYY-MM-DD HH:MM:SS", local time as written
  // Seconds since 1970 of the stamp read as if UTC: for differences and
  // days, not for an instant.
  std::int64_t seconds = 0;
  std::string evening;  // the date of the night the line belongs to (noon to noon)
  std::string text;     // the event as written
  ShowEvent event;
};

// Nothing for a line without a real date and time.
std::optional<ShowLogLine> ParseShowLogLine(std::string_view line);

// Each line of a log's text in order, without its line end ("\n" or "\r\n").
void ForEachShowLogLine(std::string_view logText,
                        const std::function<void(std::string_view)>& take);

// Where the show stands, as every front end shows it.
struct ShowState {
  enum class Phase { Stopped, Waiting, Playing };
  Phase phase = Phase::Stopped;

  struct Entry {
    int row = -1;
    std::string listText;
  };
  struct Playing {
    Entry entry;
    double elapsedSeconds = 0;
    // Nothing until the song's length is known.
    std::optional<double> remainingSeconds;
    // What the player adds about it ("Plays silently: ...").
    std::string note;
  };
  std::optional<Playing> playing;
  // The entry the show plays next, when it plays on.
  std::optional<Entry> next;

  // Tonight's window as the show's calendar gives it.
  struct Window {
    bool open = false;
    // The night that is open, or the next one (seconds since 1970).
    std::optional<std::int64_t> start;
    std::optional<std::int64_t> end;
    // "Fri 27 Nov, 5:12 PM (sunset + 15 min)"; empty when none is to come.
    std::string nextOpeningText;
    // Why the calendar or the times cannot be used; empty when they can.
    std::string problem;
    int volumePercent = 100;
    // Its times as the time lists write them ("5:30:00 PM"); the daily
    // window's settings when no night will open.
    std::string startText;
    std::string endText;
  };
  Window window;

  struct Line {
    std::string port;  // "COM1"
    bool portOpen = false;
    bool portLost = false;  // lost and not back yet
    std::string lostReason;
    // Entries of this show whose lights fell visibly behind, and the last.
    int lateEntries = 0;
    std::string lastLate;
    // An entry has played through in this show: the line's health is known.
    bool known = false;
  };
  Line line;

  // Whole seconds between the last two keep-alives; -1 before the second.
  int keepAliveGapSeconds = -1;
  bool keepAliveLate = false;
  // Gaps of two seconds or more since the show started.
  int lateKeepAlives = 0;

  bool stopAfterSongAsked = false;
  std::string latestNotice;
};

// What `event` changes in `state`: the entry under way, the line's health,
// the latest notice. The rest (the phase, the times, the window) the
// session sets as it goes.
void ApplyToState(ShowState& state, const ShowEvent& event);

// The phase a status line's text stands for: the running, paused and
// stopped texts of the scheduler.
ShowState::Phase PhaseOfStatus(std::string_view statusText);

// Subscribers to a session's events, in the order they subscribed. A
// subscriber may subscribe or cancel others while it hears an event.
class ShowEventBus {
 public:
  using Handler = std::function<void(const ShowEvent&)>;
  using Token = int;

  Token Subscribe(Handler handler);
  void Unsubscribe(Token token);
  void Publish(const ShowEvent& event) const;

 private:
  struct Entry {
    Token token;
    Handler handler;
  };
  std::vector<Entry> handlers_;
  Token next_ = 1;
};

}  // namespace playback
