#include "web/last_nights.h"

#include "platform/paths.h"
#include "platform/system.h"
#include "watch/night_report.h"

namespace web {
namespace {

// As glimmer log reads it; a log that cannot be read is no nights.
std::optional<std::string> LogText(const std::string& dir) {
  const std::unique_ptr<platform::FileStore> files = platform::MakeFileStore();
  watch::ShowLogText read = watch::ReadShowLog(*files, platform::ShowLogPath(dir), 1);
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

std::optional<std::vector<playback::NightSummary>> LastNights(const std::string& dir, int count) {
  const std::optional<std::string> text = LogText(dir);
  if (!text) return std::nullopt;
  std::vector<playback::NightSummary> summary = playback::SummarizeShowLog(*text);
  KeepLast(summary, count);
  return summary;
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
