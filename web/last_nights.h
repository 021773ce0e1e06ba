#pragma once

#include <cstddef>
#include <deque>
#include <string>
#include <string_view>
#include <vector>

#include "platform/log_file.h"
#include "playback/show_log.h"

namespace web {

// The nights of show.log, kept as its lines are written: the page asks this,
// never the files, so a client's question costs the show no read of the log.
// It counts each line as glimmer log does, over the same generations.
class NightBook {
 public:
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

 private:
  void Add(const playback::NightSummary& night);

  std::deque<playback::NightSummary> nights_;
  bool seeded_ = false;
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

}  // namespace web
