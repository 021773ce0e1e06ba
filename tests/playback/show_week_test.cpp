// A week of evening shows on a simulated clock, with the real serial port on
// a pseudo-terminal: the daily window opens and closes exactly where the
// settings say, every day, and nothing piles up from one day to the next.

#include <dirent.h>
#include <malloc.h>

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "platform/posix/termios_serial_port.h"
#include "playback/show_session.h"
#include "tests/calendar/time_zone.h"
#include "tests/fakes/pty_line.h"
#include "tests/playback/calendar_show_rig.h"

namespace {

using calendar_show::kSecond;  // microseconds
constexpr long long kDay = 86400 * kSecond;

long long At(int day, int hours, int minutes, int seconds) {
  return day * kDay + ((hours * 60LL + minutes) * 60 + seconds) * kSecond;
}

// A week of show.log lines, written nowhere.
struct NoLog : platform::LogFile {
  platform::Status AppendLine(const std::string&) override { return platform::Status::Ok(); }
};

int OpenDescriptors() {
  int count = 0;
  if (DIR* dir = opendir("/proc/self/fd")) {
    while (const dirent* entry = readdir(dir)) count += entry->d_name[0] != '.';
    closedir(dir);
  }
  return count;
}

TEST(ShowWeekTest, EveryDayTheWindowOpensAndClosesOnItsSecondAndNothingGrows) {
  constexpr int kDays = 7;
  constexpr double kSongSeconds = 170.25;  // three songs: 8.5 minutes a pass
  calendar_show::DatedClock clock;
  calendar_show::DatedAudio audio(clock, kSongSeconds);
  calendar_show::DatedWindow window(clock, audio);
  // Room for a week of what the window and the port keep, so that keeping it
  // is no growth.
  window.status.reserve(256);
  window.songs.reserve(4096);
  window.notices.reserve(16);
  window.nextShows.reserve(16);
  fakes::TempDir dir;
  window.entries = calendar_show::ThreeEntries(dir, 170);

  // Counts what arrives without keeping it, so the line takes no memory. The
  // port's wait for a full line is long enough that no scheduling delay of a
  // loaded machine reaches it: the week runs on its own clock.
  fakes::PtyLine line(/*keep=*/false);
  platform::TermiosSerialPort termios({.applicationDirectory = {},
                                       .devicePath = line.Name(),
                                       .stallTimeout = std::chrono::minutes(5)});
  calendar_show::DatedPort port(clock, &termios);
  for (auto* v : {&port.opens, &port.closes}) v->reserve(4096);

  calendar_test::ScopedTimeZone zone("UTC");
  clock.us = At(0, 12, 0, 0);
  calendar_show::DatedUi ui(clock);
  NoLog log;
  playback::ShowSession session({port, audio, ui, clock, log, [] { return std::string(); }},
                                {window.running, window, window, window}, window.fadeTimings);

  std::vector<int> descriptors;
  std::vector<std::size_t> heap;
  descriptors.reserve(16);
  heap.reserve(16);
  // Noon, between two shows: take stock, and stop after the last evening.
  long long nextNoon = At(1, 12, 0, 0);
  clock.onSleep = [&] {
    if (clock.us < nextNoon) return;
    nextNoon += kDay;
    descriptors.push_back(OpenDescriptors());
    heap.push_back(mallinfo2().uordblks);
    if (clock.us >= At(kDays, 12, 0, 0)) window.running = false;
  };

  session.Start(playback::Origin{"Start button"});

  ASSERT_EQ(clock.us / kSecond, At(kDays, 12, 0, 0) / kSecond);
  // The Start button announces the show once, then every evening is a night
  // from 5:30:00 PM through the second of 7:00:00 PM.
  ASSERT_EQ(port.opens.size(), kDays + 1u);
  EXPECT_EQ(port.opens[0], At(0, 12, 0, 0));
  std::vector<calendar::Night> nights;
  for (int day = 0; day < kDays; ++day) {
    calendar::Night night;
    night.date = calendar::AddDays({1970, 1, 1}, day);
    night.start = At(day, 17, 30, 0) / kSecond;
    night.end = At(day, 19, 0, 1) / kSecond;
    nights.push_back(night);
  }
  calendar_show::ExpectPlayedAsPreviewed(port, window.songs, nights, kSongSeconds);
  EXPECT_GT(line.Count(), 0);
  EXPECT_TRUE(ui.messages.empty());

  // Taken at noon on days 1 to 7: the first evening may set things up once,
  // the six after it must leave the process as they found it.
  ASSERT_EQ(descriptors.size(), static_cast<std::size_t>(kDays));
  for (int day = 1; day < kDays; ++day) {
    EXPECT_EQ(descriptors[day], descriptors[0]) << "day " << day + 1;
    EXPECT_LE(heap[day], heap[0] + 1024) << "day " << day + 1 << ": " << heap[day] << " bytes";
  }
}

}  // namespace
