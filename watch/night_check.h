#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/status.h"
#include "platform/time_source.h"
#include "watch/alerts.h"

namespace watch {

// What a night needs from the outside, each answered without playing
// anything: the real ones load files and open devices, a test's are fakes.
// The playlist's files may take seconds to read (a cache of gigabytes), so
// they are asked apart from the machine's devices, and from another thread.
class EntryProbes {
 public:
  virtual ~EntryProbes() = default;
  virtual platform::Status LoadCache(const std::string& path) = 0;
  virtual platform::Status OpenSong(const std::string& path) = 0;
  // 0 for a file that is not there.
  virtual std::uint64_t FileSize(const std::string& path) = 0;
};

class MachineProbes {
 public:
  virtual ~MachineProbes() = default;
  // Opens the serial port and closes it again (fine when the show has it open).
  virtual platform::Status OpenPort() = 0;
  virtual platform::Status AudioDevice() = 0;
  virtual platform::Result<std::uint64_t> FreeBytes(const std::string& folder) = 0;
};

class NightProbes : public EntryProbes, public MachineProbes {};

struct NightEntry {
  std::string name;  // as the playlist shows it
  std::string cachePath;
  std::string audioPath;
};

struct NightNeeds {
  std::vector<NightEntry> entries;
  std::string folder;          // where the log and the caches are written
  bool silentChosen = false;   // the operator asked for no sound
  std::uint64_t logLimit = 0;  // the most the log grows to before it moves
};

// Whether the wall clock can be believed: not before the program was built,
// and not moved against the steady clock since it was last looked at.
class ClockWatch {
 public:
  static constexpr std::chrono::seconds kJumpLimit{60};

  ClockWatch(platform::TimeSource& time, std::chrono::system_clock::time_point builtAt);

  struct Finding {
    std::string problem;  // empty: believable
    bool jumped = false;  // moved by more than a minute since the last look
  };
  Finding Look();

 private:
  platform::TimeSource& time_;
  std::chrono::system_clock::time_point builtAt_;
  bool looked_ = false;
  std::chrono::steady_clock::time_point lastSteady_{};
  std::chrono::system_clock::time_point lastWall_{};
};

struct NightCheckReport {
  int entries = 0;
  std::vector<std::string> problems;  // each says what and where
  bool clockJumped = false;
  bool soundChecked = false;
  bool ok() const { return problems.empty(); }
};

// What the playlist's files were found to be: the slow half of the check.
struct EntryFindings {
  std::vector<std::string> problems;  // in the order of the entries
  std::uint64_t largestCache = 0;
};

// Reads every entry's cache and song. Nothing when `keepGoing` said stop
// before the last was read (a cache cut short is no finding).
std::optional<EntryFindings> CheckEntries(const std::vector<NightEntry>& entries,
                                          EntryProbes& probes,
                                          const std::function<bool()>& keepGoing = nullptr);

// The check with the entries already read: the serial port, the sound, the
// disk and the clock, as they are now.
NightCheckReport CheckNight(const NightNeeds& needs, const EntryFindings& found,
                            MachineProbes& probes, ClockWatch& clock);
// Both halves at once.
NightCheckReport CheckNight(const NightNeeds& needs, NightProbes& probes, ClockWatch& clock);

// One line for the log, the notice and the alert.
std::string DescribeNightCheck(const NightCheckReport& report);

// The check's line as the alert and the notice carry it: whole when it fits
// `limit`, else "Check before the night: N problems; the first: ..." with
// the rest left to the log.
std::string ShortNightCheck(const NightCheckReport& report, std::size_t limit = kAlertTextLimit);

// Each problem on a line of its own, for the log, when the check's one line
// is too long for it to keep whole; nothing when it is not.
std::vector<std::string> NightCheckProblemLines(const NightCheckReport& report,
                                                std::size_t lineLimit);

}  // namespace watch
