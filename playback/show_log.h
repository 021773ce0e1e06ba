#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/log_file.h"
#include "playback/show_event.h"

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

  // Writes "<now> " and the event's line, as Describe words it; a kind the
  // log does not keep is not written. An event longer than kMaxEventBytes is
  // cut (a list text of 300 MB went whole into the log at each start of its
  // entry). The same event again and again is written once; when another
  // comes, or every kMaxRepeats, one line says how often it repeated.
  void Write(const ShowEvent& event);

  static constexpr std::size_t kMaxEventBytes = 2048;
  static constexpr int kMaxRepeats = 1000;

 private:
  void WriteLine(const std::string& event);
  void Append(const std::string& event);

  platform::LogFile& file_;
  std::function<std::string()> now_;
  std::function<void(const std::string&)> onFailure_;
  bool failed_ = false;
  std::string last_;
  int repeats_ = 0;  // of last_, not written yet
};

// One night of the log: from noon to noon, named after its evening, so a
// show that runs past midnight counts once.
struct NightSummary {
  std::string date;          // "2026-12-24"
  int shows = 0;             // show starts
  int played = 0;            // entries that played to their end
  int skipped = 0;           // entries that could not play
  int skippedByRequest = 0;  // cut short by the operator's Skip
  int lateKeepAlives = 0;
  int lateLines = 0;  // entries whose lights fell visibly behind on the line
  int portLosses = 0;
};

// The nights of a log's text, oldest first. Lines that are not an event with
// a real date and time are left out and, with `notUnderstood`, counted.
std::vector<NightSummary> SummarizeShowLog(std::string_view text, int* notUnderstood = nullptr);

}  // namespace playback
