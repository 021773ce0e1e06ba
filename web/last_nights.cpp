#include "web/last_nights.h"

#include "platform/paths.h"
#include "platform/system.h"
#include "watch/night_report.h"

namespace web {

std::optional<std::vector<playback::NightSummary>> LastNights(const std::string& dir, int count) {
  const std::unique_ptr<platform::FileStore> files = platform::MakeFileStore();
  // As glimmer log reads it; a log that cannot be read is no nights.
  const watch::ShowLogText read = watch::ReadShowLog(*files, platform::ShowLogPath(dir), 1);
  if (!read.found || !read.problem.empty()) return std::nullopt;
  std::vector<playback::NightSummary> summary = playback::SummarizeShowLog(read.text);
  if (count >= 0 && summary.size() > static_cast<std::size_t>(count)) {
    summary.erase(summary.begin(), summary.end() - count);
  }
  return summary;
}

}  // namespace web
