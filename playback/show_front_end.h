#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "platform/status.h"
#include "playlist/playlist_entry.h"

namespace playback {

// Who asked the show to start, stop or close, as the show log names them
// ("Start button", "SIGINT, as the Stop button", "phone page"). Each front end
// names its own: the show knows none of them.
struct Origin {
  std::string name;
};

// The line rates the controllers take, as the baud-rate list offers them.
inline constexpr int kLineRates[] = {56000, 115200};
// The rate a baud-rate text names. Any other rate is refused, the text
// quoted: a forecast or a port for a rate the controllers do not take would
// be wrong without a word.
platform::Result<int> ParseLineRate(std::string_view text);

// Seconds since midnight for a 12-hour time of day such as "5:30:00 PM",
// or nothing when the text is not one.
std::optional<int> ParseTimeOfDay(std::string_view text);

// A time of day as the time lists write it, read once where the settings are
// read: its text for the log and the alerts, its seconds for the clock.
class TimeOfDay {
 public:
  TimeOfDay() = default;
  // Implicit: a time list's text is the time.
  TimeOfDay(std::string text)  // NOLINT(google-explicit-constructor)
      : seconds_(ParseTimeOfDay(text)), text_(std::move(text)) {}
  TimeOfDay(const char* text) : TimeOfDay(std::string(text)) {}  // NOLINT

  const std::string& Text() const { return text_; }
  // Nothing when the text is not a time of day.
  std::optional<int> Seconds() const { return seconds_; }

 private:
  std::optional<int> seconds_;
  std::string text_;
};

// The settings the show works with, read as one value so that a pass never
// mixes two states of the choice lists.
struct ShowSettings {
  int portNumber = 1;   // cboPort, 1 to 16
  int baud = 115200;    // cboDataRate: one of kLineRates
  int frameTiming = 5;  // cboFrameComp, 1 to 10
  TimeOfDay startTime;  // cboStartTime, "5:30:00 PM"
  TimeOfDay endTime;    // cboEndTime
};

// Where the settings come from: the window's lists, the saved preferences,
// a command line. Read afresh on every pass: the frame timing may change
// while an entry plays and takes effect at once.
class ShowSettingsSource {
 public:
  virtual ~ShowSettingsSource() = default;
  virtual ShowSettings CurrentSettings() const = 0;
  // Writes preferences.txt with the autostart flag following ShowRunning;
  // a front end without a preferences file writes nothing.
  virtual void SaveSettings() {}
};

// The playlist as the show walks it: the rows of lstPlayList, row 0 first.
class PlaylistSource {
 public:
  virtual ~PlaylistSource() = default;
  virtual int RowCount() const = 0;
  // The entry that list row `row` stands for (PlaylistEntries(ItemData(row))).
  virtual playlist::PlaylistEntry EntryAt(int row) const = 0;
  // Highlights the row that is playing.
  virtual void SelectRow(int row) { (void)row; }
};

// What the show tells its front ends. Each is sent when it changes, never on
// every pass; a front end listens to what it shows and leaves the rest.
class ShowView {
 public:
  virtual ~ShowView() = default;
  // The window's running state (the show has started) and stopped state.
  virtual void ShowStarted() {}
  virtual void ShowEnded() {}
  // StatusText: running, paused, stopped.
  virtual void StatusChanged(const std::string& text) { (void)text; }
  // Something the operator should be able to read later: a skipped entry, a
  // lost port, events that were not sent. Kept beside the status text, never
  // in place of it, until a newer notice or the next start.
  virtual void NoticeAdded(const std::string& text) { (void)text; }
  // When the show opens next ("Next show: Fri 27 Nov, 5:12 PM (sunset + 15
  // min)"), for the line under the status while the show waits; empty once
  // it plays.
  virtual void NextShowChanged(const std::string& text) { (void)text; }
  // What the player adds about the entry under way, such as why its song
  // plays silently; the next entry starts without it.
  virtual void PlayingNoteChanged(const std::string& text) { (void)text; }
  // The whole seconds between the last two keep-alives (Text1), at every
  // keep-alive; `late` when the gap means a stalled line.
  virtual void KeepAliveGap(int seconds, bool late) {
    (void)seconds;
    (void)late;
  }
};

}  // namespace playback
