#include "playback/show_log.h"

#include <optional>
#include <utility>

namespace playback {

ShowLog::ShowLog(platform::LogFile& file, std::function<std::string()> now,
                 std::function<void(const std::string&)> onFailure)
    : file_(file), now_(std::move(now)), onFailure_(std::move(onFailure)) {}

void ShowLog::WriteLine(const std::string& whole) {
  std::string event = whole;
  if (event.size() > kMaxEventBytes) {
    event.resize(kMaxEventBytes);
    // Not inside a UTF-8 character.
    while (!event.empty() && (static_cast<unsigned char>(event.back()) & 0xC0) == 0x80) {
      event.pop_back();
    }
    if (!event.empty() && static_cast<unsigned char>(event.back()) >= 0xC0) event.pop_back();
    event += "... (" + std::to_string(whole.size() - event.size()) + " more bytes)";
  }
  if (event == last_) {
    if (++repeats_ < kMaxRepeats) return;
  }
  if (repeats_ > 0) {
    ShowEvent repeated;
    repeated.kind = ShowEventKind::Repeated;
    repeated.count = repeats_;
    Append(Describe(repeated));
  }
  const bool repeated = event == last_;
  repeats_ = 0;
  last_ = std::move(event);
  if (!repeated) Append(last_);
}

void ShowLog::Write(const ShowEvent& event) {
  if (const std::string line = Describe(event); !line.empty()) WriteLine(line);
}

void ShowLog::Append(const std::string& event) {
  // One event, one line: a line break inside a reason would split it.
  std::string line = now_() + " " + event;
  for (char& c : line) {
    if (c == '\r' || c == '\n') c = ' ';
  }
  const platform::Status written = file_.AppendLine(line);
  if (written.ok() || failed_) return;
  failed_ = true;
  if (onFailure_) onFailure_(written.message());
}

std::vector<NightSummary> SummarizeShowLog(std::string_view text, int* notUnderstood) {
  std::vector<NightSummary> nights;
  if (notUnderstood != nullptr) *notUnderstood = 0;
  ForEachShowLogLine(text, [&](std::string_view line) {
    const std::optional<ShowLogLine> read = ParseShowLogLine(line);
    if (!read) {
      if (notUnderstood != nullptr && !line.empty()) ++*notUnderstood;
      return;
    }
    if (nights.empty() || nights.back().date != read->evening) {
      nights.push_back(NightSummary{read->evening});
    }
    NightSummary& night = nights.back();
    switch (read->event.kind) {
      case ShowEventKind::ShowStarted:
        ++night.shows;
        break;
      case ShowEventKind::EntryFinished:
        ++night.played;
        break;
      case ShowEventKind::EntrySkipped:
        ++night.skipped;
        break;
      case ShowEventKind::EntryCut:
        ++night.skippedByRequest;
        break;
      case ShowEventKind::LineLate:
        ++night.lateLines;
        break;
      case ShowEventKind::LateKeepAlive:
        ++night.lateKeepAlives;
        break;
      case ShowEventKind::PortLost:
        ++night.portLosses;
        break;
      default:
        break;
    }
  });
  return nights;
}

}  // namespace playback
