#include "web/last_nights.h"

#include "platform/file_store.h"
#include "platform/paths.h"
#include "platform/system.h"

namespace web {
namespace {

// As glimmer log reads it: through the one rule for reading, and never a
// file too large to be a show log.
constexpr std::uintmax_t kLargestLog = 256 * 1024 * 1024;

bool Append(platform::FileStore& files, const std::string& path, std::string& text) {
  if (platform::KindOfPath(path) == platform::FileKind::Missing) return false;
  platform::Result<std::string> read = files.ReadWholeFile(path, kLargestLog);
  if (!read) return false;
  text += read.value();
  return true;
}

}  // namespace

std::optional<std::vector<playback::NightSummary>> LastNights(const std::string& dir, int count) {
  const std::string path = platform::ShowLogPath(dir);
  std::string text;
  const std::unique_ptr<platform::FileStore> files = platform::MakeFileStore();
  const bool older = Append(*files, path + ".1", text);
  if (!Append(*files, path, text) && !older) return std::nullopt;
  std::vector<playback::NightSummary> summary = playback::SummarizeShowLog(text);
  if (count >= 0 && summary.size() > static_cast<std::size_t>(count)) {
    summary.erase(summary.begin(), summary.end() - count);
  }
  return summary;
}

}  // namespace web
