#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/log_file.h"

namespace playback {

// show.log: what an operator asks about the next morning, one line per
// event, date and time first ("2026-12-24 17:30:00 Show started (autostart)").
// Writing it never stops the show: a line that cannot be written is dropped,
// and only the first failure is passed on, so that it is told once.
class ShowLog {
 public:
  // `now` gives the date and time of a line; `onFailure` hears the first
  // failed write.
  ShowLog(platform::LogFile& file, std::function<std::string()> now,
          std::function<void(const std::string&)> onFailure = {});

  // Writes "<now> <event>". An event longer than kMaxEventBytes is cut
  // (a list text of 300 MB went whole into the log at each start of its
  // entry). The same event again and again is written once; when another
  // comes, or every kMaxRepeats, one line says how often it repeated.
  void Write(const std::string& event);

  static constexpr std::size_t kMaxEventBytes = 2048;
  static constexpr int kMaxRepeats = 1000;

 private:
  void Append(const std::string& event);

  platform::LogFile& file_;
  std::function<std::string()> now_;
  std::function<void(const std::string&)> onFailure_;
  bool failed_ = false;
  std::string last_;
  int repeats_ = 0;  // of last_, not written yet
};

// The texts of the events, shared by the writers and by the summary.
namespace show_event {
std::string ShowStarted(std::string_view by);  // by: "Start button", "autostart", ...
std::string ShowStopped(std::string_view by);  // by: "Stop button", "window closed", ...
std::string ShowEnded(std::string_view why);
std::string Paused(std::string_view start, std::string_view end);
std::string Resumed();
std::string EntryStarted(int row, std::string_view listText);
std::string EntryFinished(int row);
std::string EntryStopped(int row);
std::string EntrySkipped(int row, std::string_view reason);
std::string StopAfterSongAsked(std::string_view by);
std::string SkipAsked(std::string_view by);
std::string PlaysSilently(int row, std::string_view reason);
std::string HighOutputLatency(int row, double seconds);
std::string PortOpened(std::string_view port, bool again);
std::string PortLost(std::string_view port, std::string_view reason);
std::string LateKeepAlive(int seconds);
// The dispatch runs at ordinary priority.
std::string NoRealtime(std::string_view why);
// What an import found the serial line will make of the new sequence.
std::string ImportLine(std::string_view text);
// The worst lateness at the controllers of an entry's messages on the line model.
std::string LineLate(int row, int ms, std::string_view at, int baud);
std::string SettingsNotSaved(std::string_view reason);
std::string PlaylistNotSaved(std::string_view reason);
}  // namespace show_event

// One night of the log: from noon to noon, named after its evening, so a
// show that runs past midnight counts once.
struct NightSummary {
  std::string date;  // "2026-12-24"
  int shows = 0;     // show starts
  int played = 0;    // entries that played to their end
  int skipped = 0;
  int lateKeepAlives = 0;
  int lateLines = 0;  // entries whose lights fell visibly behind on the line
  int portLosses = 0;
};

// The nights of a log's text, oldest first. Lines that are not an event with
// a real date and time are left out and, with `notUnderstood`, counted.
std::vector<NightSummary> SummarizeShowLog(std::string_view text, int* notUnderstood = nullptr);

}  // namespace playback
