#include "watch/night_check.h"

#include <algorithm>
#include <cstdio>

namespace watch {
namespace {

std::string Megabytes(std::uint64_t bytes) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f MB", static_cast<double>(bytes) / (1024.0 * 1024.0));
  return text;
}

}  // namespace

ClockWatch::ClockWatch(platform::TimeSource& time, std::chrono::system_clock::time_point builtAt)
    : time_(time), builtAt_(builtAt) {}

ClockWatch::Finding ClockWatch::Look() {
  const auto steady = time_.Steady();
  const auto wall = time_.Wall();
  Finding finding;
  if (wall < builtAt_) {
    finding.problem = "the clock is earlier than the day this program was built; is the date set?";
  }
  if (looked_) {
    const auto drift = (wall - lastWall_) - (steady - lastSteady_);
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(drift).count();
    if (seconds > kJumpLimit.count() || seconds < -kJumpLimit.count()) {
      finding.jumped = true;
      const std::string moved = "the clock moved " +
                                std::to_string(seconds < 0 ? -seconds : seconds) + " seconds " +
                                (seconds < 0 ? "back" : "ahead");
      finding.problem = finding.problem.empty() ? moved : finding.problem + "; " + moved;
    }
  }
  looked_ = true;
  lastSteady_ = steady;
  lastWall_ = wall;
  return finding;
}

std::optional<EntryFindings> CheckEntries(const std::vector<NightEntry>& entries,
                                          EntryProbes& probes,
                                          const std::function<bool()>& keepGoing) {
  EntryFindings found;
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const NightEntry& entry = entries[i];
    const std::string which = "entry " + std::to_string(i + 1) + " (" + entry.name + ")";
    if (platform::Status loaded = probes.LoadCache(entry.cachePath); !loaded) {
      found.problems.push_back(which + ": " + loaded.message());
    }
    if (platform::Status opened = probes.OpenSong(entry.audioPath); !opened) {
      found.problems.push_back(which + ": " + opened.message());
    }
    found.largestCache = std::max(found.largestCache, probes.FileSize(entry.cachePath));
    if (keepGoing && !keepGoing()) return std::nullopt;
  }
  return found;
}

NightCheckReport CheckNight(const NightNeeds& needs, const EntryFindings& found,
                            MachineProbes& probes, ClockWatch& clock) {
  NightCheckReport report;
  report.entries = static_cast<int>(needs.entries.size());
  report.problems = found.problems;
  if (needs.entries.empty()) report.problems.push_back("the playlist is empty");
  if (platform::Status port = probes.OpenPort(); !port) {
    report.problems.push_back("serial port: " + port.message());
  }
  if (!needs.silentChosen) {
    report.soundChecked = true;
    if (platform::Status audio = probes.AudioDevice(); !audio) {
      report.problems.push_back("sound: " + audio.message() + "; the songs would play silently");
    }
  }
  // Room to append to the log up to its limit and to write a cache's new
  // copy beside the old one.
  const std::uint64_t needed = needs.logLimit + found.largestCache;
  if (auto free = probes.FreeBytes(needs.folder); !free) {
    report.problems.push_back("disk: " + free.message());
  } else if (free.value() < needed) {
    report.problems.push_back("disk: only " + Megabytes(free.value()) + " free in " + needs.folder +
                              ", the log and a cache rewrite need " + Megabytes(needed));
  }
  const ClockWatch::Finding time = clock.Look();
  if (!time.problem.empty()) report.problems.push_back("clock: " + time.problem);
  report.clockJumped = time.jumped;
  return report;
}

NightCheckReport CheckNight(const NightNeeds& needs, NightProbes& probes, ClockWatch& clock) {
  return CheckNight(needs, *CheckEntries(needs.entries, probes), probes, clock);
}

std::string DescribeNightCheck(const NightCheckReport& report) {
  if (report.ok()) {
    return "Check before the night: all well (" + std::to_string(report.entries) +
           " entries, serial port, " + (report.soundChecked ? "sound, " : "") + "disk, clock)";
  }
  std::string text = "Check before the night: " + std::to_string(report.problems.size()) +
                     (report.problems.size() == 1 ? " problem: " : " problems: ");
  for (std::size_t i = 0; i < report.problems.size(); ++i) {
    if (i > 0) text += "; ";
    text += report.problems[i];
  }
  return text;
}

std::string ShortNightCheck(const NightCheckReport& report, std::size_t limit) {
  std::string whole = DescribeNightCheck(report);
  if (whole.size() <= limit || report.problems.empty()) return whole;
  const std::string text = "Check before the night: " + std::to_string(report.problems.size()) +
                           (report.problems.size() == 1 ? " problem: " : " problems; the first: ");
  const std::string tail = " (all of it in show.log)";
  const std::size_t room =
      limit > text.size() + tail.size() ? limit - text.size() - tail.size() : 0;
  return text + CutToFit(report.problems.front(), room, "...") + tail;
}

std::vector<std::string> NightCheckProblemLines(const NightCheckReport& report,
                                                std::size_t lineLimit) {
  if (DescribeNightCheck(report).size() <= lineLimit) return {};
  std::vector<std::string> lines;
  const std::string of = " of " + std::to_string(report.problems.size()) + ": ";
  for (std::size_t i = 0; i < report.problems.size(); ++i) {
    lines.push_back("Check before the night, problem " + std::to_string(i + 1) + of +
                    report.problems[i]);
  }
  return lines;
}

}  // namespace watch
