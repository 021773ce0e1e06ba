#include "web/last_nights.h"

#include <memory>

#include "platform/paths.h"
#include "platform/system.h"
#include "watch/night_report.h"

namespace web {
namespace {

// As glimmer log reads it; a log that cannot be read is no nights.
std::optional<std::string> LogText(const std::string& dir) {
  const std::unique_ptr<platform::FileStore> files = platform::MakeFileStore();
  watch::ShowLogText read =
      watch::ReadShowLog(*files, platform::ShowLogPath(dir), platform::kLogGenerations);
  if (!read.found || !read.problem.empty()) return std::nullopt;
  return std::move(read.text);
}

template <typename Night>
void KeepLast(std::vector<Night>& nights, int count) {
  if (count >= 0 && nights.size() > static_cast<std::size_t>(count)) {
    nights.erase(nights.begin(), nights.end() - count);
  }
}

}  // namespace

NightBook::~NightBook() {
  SettlePlayed();
}

void NightBook::SeedFrom(const std::string& dir) {
  dir_ = dir;
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

std::vector<NightPlayedView> NightBook::LastPlayed(int count) {
  constexpr auto kReadingEvery = std::chrono::minutes(1);
  const auto now = std::chrono::steady_clock::now();
  std::vector<NightPlayedView> views;
  bool start = false;
  {
    const std::lock_guard lock(playedMutex_);
    views = played_;
    start = !dir_.empty() && !reading_ && (!everRead_ || now - lastReading_ >= kReadingEvery);
    if (start) reading_ = true;
  }
  if (start) {
    if (reader_.joinable()) reader_.join();  // ended: it cleared reading_
    everRead_ = true;
    lastReading_ = now;
    reader_ = std::thread([this, dir = dir_] {
      std::vector<NightPlayedView> read = LastNightsPlayed(dir, static_cast<int>(kNightsKept));
      const std::lock_guard lock(playedMutex_);
      played_ = std::move(read);
      reading_ = false;
    });
  }
  KeepLast(views, count);
  return views;
}

void NightBook::SettlePlayed() {
  if (reader_.joinable()) reader_.join();
}

std::vector<NightPlayedView> LastNightsPlayed(const std::string& dir, int count) {
  std::vector<NightPlayedView> views;
  const std::optional<std::string> text = LogText(dir);
  if (!text) return views;
  for (const watch::NightPlayed& night : watch::ExpectedAgainstPlayed(*text)) {
    const int asked = night.AskedOfWindow();
    views.push_back(NightPlayedView{night.date, asked < 0 ? -1 : asked / 60,
                                    night.playedSeconds / 60, night.Percent(), night.Short()});
  }
  KeepLast(views, count);
  return views;
}

}  // namespace web
