#include "web/last_nights.h"

#include <memory>

#include "platform/paths.h"
#include "platform/system.h"
#include "watch/night_report.h"

namespace web {

void NightBook::SeedFrom(const std::string& dir) {
  const std::unique_ptr<platform::FileStore> files = platform::MakeFileStore();
  const watch::ShowLogText read =
      watch::ReadShowLog(*files, platform::ShowLogPath(dir), platform::kLogGenerations);
  if (!read.problem.empty()) return;
  SeedWith(read.text);
}

void NightBook::SeedWith(std::string_view logText) {
  nights_.clear();
  for (const playback::NightSummary& night : playback::SummarizeShowLog(logText)) Add(night);
  seeded_ = true;
}

void NightBook::Written(std::string_view line) {
  // One line is a log of its own: counted by the same rule as a whole file.
  for (const playback::NightSummary& night : playback::SummarizeShowLog(line)) Add(night);
}

void NightBook::Add(const playback::NightSummary& night) {
  if (nights_.empty() || nights_.back().date != night.date) {
    nights_.push_back(night);
    if (nights_.size() > kNightsKept) nights_.pop_front();
    return;
  }
  playback::NightSummary& last = nights_.back();
  last.shows += night.shows;
  last.played += night.played;
  last.skipped += night.skipped;
  last.skippedByRequest += night.skippedByRequest;
  last.lateKeepAlives += night.lateKeepAlives;
  last.lateLines += night.lateLines;
  last.portLosses += night.portLosses;
}

std::vector<playback::NightSummary> NightBook::Last(int count) const {
  const std::size_t n = count < 0 ? 0 : std::min(nights_.size(), static_cast<std::size_t>(count));
  return {nights_.end() - static_cast<std::ptrdiff_t>(n), nights_.end()};
}

}  // namespace web
