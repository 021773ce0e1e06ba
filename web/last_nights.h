#pragma once

#include <chrono>
#include <cstddef>
#include <deque>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "platform/log_file.h"
#include "playback/show_log.h"
#include "web/show_view.h"

namespace web {

// The nights of show.log, kept as its lines are written: the page asks this,
// never the files, so a client's question costs the show no read of the log.
// It counts each line as glimmer log does, over the same generations.
class NightBook {
 public:
  NightBook() = default;
  NightBook(const NightBook&) = delete;
  NightBook& operator=(const NightBook&) = delete;
  ~NightBook();

  // More nights than the page may ask for are not kept.
  static constexpr std::size_t kNightsKept = 366;

  // The log as the files hold it now (every generation glimmer log reads):
  // what was written before replaced by it. A log that cannot be read leaves
  // the book as it is.
  void SeedFrom(const std::string& dir);
  void SeedWith(std::string_view logText);
  bool Seeded() const { return seeded_; }
  // A line of the log as written: date and time, then the event.
  void Written(std::string_view line);
  // The last `count` nights, oldest first.
  std::vector<playback::NightSummary> Last(int count) const;

  // The last `count` nights' windows against the minutes that played, as
  // `glimmer log` prints them. Pairing windows with songs needs the whole
  // log, so it is worked out from the files of the folder SeedFrom was given
  // on a thread of its own, at most once a minute while the page asks: the
  // answer may be a minute old (the night under way is in the status), and a
  // request never waits on a read. None until the first reading is done.
  std::vector<NightPlayedView> LastPlayed(int count);
  // Waits for a reading under way (for tests, and on the way out).
  void SettlePlayed();

 private:
  void Add(const playback::NightSummary& night);

  std::deque<playback::NightSummary> nights_;
  bool seeded_ = false;

  std::string dir_;
  std::mutex playedMutex_;
  std::vector<NightPlayedView> played_;  // under playedMutex_
  bool reading_ = false;                 // under playedMutex_
  std::thread reader_;
  std::chrono::steady_clock::time_point lastReading_{};
  bool everRead_ = false;
};

// show.log seen on its way: every line also goes to `book`.
class NightBookLog final : public platform::LogFile {
 public:
  NightBookLog(platform::LogFile& inner, NightBook& book) : inner_(inner), book_(book) {}
  platform::Status AppendLine(const std::string& line) override {
    book_.Written(line);
    return inner_.AppendLine(line);
  }

 private:
  platform::LogFile& inner_;
  NightBook& book_;
};

// The same nights' windows against the minutes of songs that played, as
// `glimmer log` prints them, read from the log files (every generation
// `glimmer log` reads); none when there is no log. Reads the files: not for
// the show's thread.
std::vector<NightPlayedView> LastNightsPlayed(const std::string& dir, int count);

}  // namespace web
