// A week of evening shows on a simulated clock, with the real serial port on
// a pseudo-terminal: the daily window opens and closes exactly where the
// settings say, every day, and nothing piles up from one day to the next.

#include <dirent.h>
#include <malloc.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/posix/posix_file_store.h"
#include "platform/posix/termios_serial_port.h"
#include "playback/show_session.h"
#include "tests/calendar/time_zone.h"
#include "tests/fakes/pty_line.h"
#include "tests/playback/calendar_show_rig.h"
#include "tests/playback/playback_rig.h"

namespace {

using calendar_show::kSecond;  // microseconds
constexpr long long kDay = 86400 * kSecond;

long long At(int day, int hours, int minutes, int seconds) {
  return day * kDay + ((hours * 60LL + minutes) * 60 + seconds) * kSecond;
}

long long Second(long long us) {
  return us / kSecond;
}

std::string Clock(long long us) {
  char text[48];
  const long long s = us / kSecond;
  std::snprintf(text, sizeof text, "day %lld %02lld:%02lld:%02lld.%06lld", s / 86400,
                s % 86400 / 3600, s % 3600 / 60, s % 60, us % kSecond);
  return text;
}

// Time in microseconds since midnight of day 0 (in UTC). Only the rig moves
// it, the steady clock too.
class WeekClock : public calendar_show::DatedClock {
 public:
  std::chrono::steady_clock::time_point SteadyNow() override {
    return std::chrono::steady_clock::time_point(std::chrono::microseconds(us));
  }
};

// The real port on a pseudo-terminal whose other side is read as soon as
// anything arrives, as controllers would take it. The port's wait for a full
// line is long enough that no scheduling delay of a loaded machine reaches
// it: the week runs on its own clock, not the real one.
class PtyPort : public platform::SerialPort {
 public:
  PtyPort(const std::string& device, WeekClock& clock)
      : port_({.applicationDirectory = {},
               .devicePath = device,
               .stallTimeout = std::chrono::minutes(5)}),
        clock_(clock) {}
  void SetPortNumber(int number) override { port_.SetPortNumber(number); }
  void SetSettings(const std::string& settings) override { port_.SetSettings(settings); }
  platform::Status Open() override {
    platform::Status opened = port_.Open();
    if (opened && onOpen) onOpen(clock_.us);
    return opened;
  }
  bool IsOpen() const override { return port_.IsOpen(); }
  void Close() override {
    if (port_.IsOpen() && onClose) onClose(clock_.us);
    port_.Close();
  }
  platform::Status Write(std::string_view bytes) override { return port_.Write(bytes); }
  std::function<void(long long)> onOpen, onClose;

 private:
  platform::TermiosSerialPort port_;
  WeekClock& clock_;
};

// A week of show.log lines, written nowhere.
class NoLog : public platform::LogFile {
 public:
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
  WeekClock clock;
  calendar_show::DatedAudio audio(clock, kSongSeconds);
  calendar_show::DatedWindow window(clock, audio);
  // Room for a week of what the window keeps, so that keeping it is no growth.
  window.status.reserve(256);
  window.songs.reserve(4096);
  window.notices.reserve(16);
  window.nextShows.reserve(16);
  fakes::TempDir dir;
  window.entries = calendar_show::ThreeEntries(dir, 170);

  // Counts what arrives without keeping it, so the line takes no memory.
  fakes::PtyLine line(/*keep=*/false);

  calendar_test::ScopedTimeZone zone("UTC");
  clock.us = At(0, 12, 0, 0);
  calendar_show::DatedUi ui(clock);
  PtyPort port(line.Name(), clock);
  NoLog log;
  playback::ShowSession session({port, audio, ui, clock, log, [] { return std::string(); }},
                                {window.running, window, window, window}, window.fadeTimings);

  // What happened when; reserved up front so that recording it does not
  // count as growth.
  std::vector<long long> opens, closes;
  for (auto* v : {&opens, &closes}) v->reserve(4096);
  std::vector<int> descriptors;
  std::vector<std::size_t> heap;
  descriptors.reserve(16);
  heap.reserve(16);
  const std::vector<calendar_show::Song>& songs = window.songs;
  port.onOpen = [&](long long us) { opens.push_back(us); };
  port.onClose = [&](long long us) { closes.push_back(us); };
  // Noon, between two shows: take stock, and stop after the last evening.
  long long nextNoon = At(1, 12, 0, 0);
  clock.onSleep = [&] {
    if (clock.us < nextNoon) return;
    nextNoon += kDay;
    descriptors.push_back(OpenDescriptors());
    heap.push_back(mallinfo2().uordblks);
    if (clock.us >= At(kDays, 12, 0, 0)) window.running = false;
  };

  session.Start(playback::Requester::StartButton);

  ASSERT_EQ(Second(clock.us), Second(At(kDays, 12, 0, 0)));
  // The Start button announces the show once, then every evening opens the
  // port as it begins and closes it after the song that crosses 7:00:00 PM.
  ASSERT_EQ(opens.size(), kDays + 1u);
  ASSERT_EQ(closes.size(), kDays + 1u);
  EXPECT_EQ(opens[0], At(0, 12, 0, 0));
  std::size_t song = 0;
  for (int day = 0; day < kDays; ++day) {
    SCOPED_TRACE("day " + std::to_string(day));
    // On the second the window opens (the pause looks every 100 ms).
    EXPECT_EQ(Second(opens[day + 1]), Second(At(day, 17, 30, 0))) << Clock(opens[day + 1]);
    ASSERT_LT(song, songs.size());
    EXPECT_EQ(Second(songs[song].at), Second(At(day, 17, 30, 0))) << Clock(songs[song].at);
    // The playlist loops from row 0, each song right after the last, while
    // the window is open.
    int expectedRow = 0;
    long long last = 0;
    for (; song < songs.size() && songs[song].at < At(day + 1, 0, 0, 0); ++song) {
      EXPECT_EQ(songs[song].row, expectedRow);
      expectedRow = (expectedRow + 1) % 3;
      if (last != 0) {
        EXPECT_LT(songs[song].at - last - kSongSeconds * kSecond, kSecond / 100);
      }
      last = songs[song].at;
      EXPECT_LE(Second(songs[song].at), Second(At(day, 19, 0, 0))) << Clock(songs[song].at);
    }
    // The last song began before 7:00:00 PM and played to its end; the port
    // closed as it ended, within the second.
    const long long lastEnd = last + static_cast<long long>(kSongSeconds * kSecond);
    EXPECT_GE(lastEnd, At(day, 19, 0, 0));
    EXPECT_GE(closes[day + 1], lastEnd) << Clock(closes[day + 1]);
    EXPECT_LT(closes[day + 1] - lastEnd, kSecond / 100) << Clock(closes[day + 1]);
  }
  EXPECT_EQ(song, songs.size());
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
