#pragma once

// A show over simulated days and nights with calendar.toml: the clock carries
// dates (seconds since the epoch, local time from TZ), songs play in step with
// it, and the rig records when the port opened and closed, when each song
// started, the volumes set and the show log with local date and time.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "calendar/calendar_file.h"
#include "calendar/local_time.h"
#include "calendar/season.h"
#include "platform/log_file.h"
#include "platform/system.h"
#include "playback/calendar_file_window.h"
#include "playback/show_session.h"
#include "tests/calendar/time_zone.h"
#include "tests/fakes/fake_serial_port.h"
#include "tests/fakes/fake_user_interface.h"
#include "tests/fakes/temp_dir.h"
#include "tests/playback/playback_rig.h"

namespace calendar_show {

constexpr long long kSecond = 1000000;  // microseconds

// Microseconds since the epoch; the time of day is the local one. Only the
// rig moves it, the steady clock too.
struct DatedClock : platform::Clock {
  int SecondsOfDay() override { return calendar::ToLocal(us / kSecond).secondsOfDay; }
  std::int64_t UnixSeconds() override { return us / kSecond; }
  std::chrono::steady_clock::time_point SteadyNow() override {
    return std::chrono::steady_clock::time_point(std::chrono::microseconds(us));
  }
  void Sleep100ms() override {
    us += kSecond / 10;
    if (onSleep) onSleep();
  }
  long long us = 0;
  std::function<void()> onSleep;
};

// Songs of `seconds` each, in step with the clock; volumes as they are set.
struct DatedAudio : platform::AudioPlayer {
  DatedAudio(DatedClock& c, double seconds)
      : clock(c), length(static_cast<long long>(seconds * kSecond)) {}
  platform::Status Open(const std::string&) override {
    openedAt = clock.us;
    return platform::Status::Ok();
  }
  int PlayState() override {
    return openedAt >= 0 && clock.us - openedAt < length ? platform::kPlayStatePlaying
                                                         : platform::kPlayStateStopped;
  }
  double PositionSeconds() override {
    if (openedAt < 0) return 0.0;
    return static_cast<double>(std::min(clock.us - openedAt, length)) / kSecond;
  }
  double DurationSeconds() override { return static_cast<double>(length) / kSecond; }
  void Stop() override { openedAt = -1; }
  void Close() override { openedAt = -1; }
  void SetVolumePercent(int percent) override { volume = percent; }
  bool IsSilent() const override { return false; }
  std::string SilentReason() const override { return {}; }
  DatedClock& clock;
  const long long length;
  long long openedAt = -1;
  int volume = 100;
};

// Waits pass on the clock alone.
struct DatedUi : fakes::FakeUserInterface {
  explicit DatedUi(DatedClock& c) : clock(c) {}
  void WaitForEvents(std::chrono::microseconds timeout) override {
    clock.us += std::max<long long>(timeout.count(), 1);
  }
  DatedClock& clock;
};

// When the port opened and closed; what is written goes to `line`, or
// nowhere without one.
struct DatedPort : platform::SerialPort {
  explicit DatedPort(DatedClock& c, platform::SerialPort* to = nullptr)
      : clock(c), line(to != nullptr ? *to : nowhere) {}
  void SetPortNumber(int number) override { line.SetPortNumber(number); }
  void SetSettings(const std::string& settings) override { line.SetSettings(settings); }
  platform::Status Open() override {
    platform::Status opened = line.Open();
    if (opened) opens.push_back(clock.us);
    return opened;
  }
  bool IsOpen() const override { return line.IsOpen(); }
  void Close() override {
    if (line.IsOpen()) closes.push_back(clock.us);
    line.Close();
  }
  platform::Status Write(std::string_view bytes) override { return line.Write(bytes); }
  std::vector<long long> opens, closes;
  // Keeps nothing: a season of writes would fill the memory.
  struct Nowhere : fakes::FakeSerialPort {
    platform::Status Write(std::string_view) override {
      return open ? platform::Status::Ok() : platform::Status::Error("write on a closed port");
    }
  } nowhere;
  DatedClock& clock;
  platform::SerialPort& line;
};

struct Song {
  long long at;  // microseconds since the epoch
  int row;
  int volume;
};

// show.log in memory, its lines as the session dates them.
struct MemoryLog : platform::LogFile {
  platform::Status AppendLine(const std::string& line) override {
    text += line + "\n";
    return platform::Status::Ok();
  }
  std::string text;
};

struct DatedWindow : playback::ShowSettingsSource, playback::PlaylistSource, playback::ShowView {
  DatedWindow(DatedClock& c, DatedAudio& a) : clock(c), audio(a) {}
  playback::ShowSettings CurrentSettings() const override {
    return {1, 115200, 5, startTime, endTime};
  }
  void StatusChanged(const std::string& text) override { status = text; }
  void NoticeAdded(const std::string& text) override { notices.push_back(text); }
  void NextShowChanged(const std::string& text) override { nextShows.push_back(text); }
  int RowCount() const override { return static_cast<int>(entries.size()); }
  playlist::PlaylistEntry EntryAt(int row) const override {
    return entries.at(static_cast<std::size_t>(row));
  }
  void SelectRow(int row) override { songs.push_back({clock.us, row, audio.volume}); }

  // "2026-12-03 17:12:00", local.
  std::string Now() const {
    const calendar::LocalTime local = calendar::ToLocal(clock.us / kSecond);
    char text[16];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d", local.secondsOfDay / 3600,
                  local.secondsOfDay / 60 % 60, local.secondsOfDay % 60);
    return calendar::IsoDate(local.date) + " " + text;
  }

  bool running = false;
  std::string startTime = "5:30:00 PM", endTime = "7:00:00 PM";
  const sequence_format::FadeTimingTable& fadeTimings = sequence_format::kFadeTimingTable;
  std::string status;
  std::vector<std::string> notices, nextShows;
  std::vector<playlist::PlaylistEntry> entries;
  std::vector<Song> songs;
  DatedClock& clock;
  DatedAudio& audio;
};

// Entries a, b and c in `dir`, each a row a second for `seconds`.
inline std::vector<playlist::PlaylistEntry> ThreeEntries(const fakes::TempDir& dir, int seconds) {
  std::vector<playlist::PlaylistEntry> entries;
  for (const char* name : {"a", "b", "c"}) {
    std::vector<playback_test::Record> rows;
    for (int second = 0; second < seconds; ++second) {
      rows.push_back(playback_test::Level(second * 88200, second % 10 + 1));
    }
    const std::unique_ptr<platform::FileStore> store = platform::MakeFileStore();
    platform::FileStore& files = *store;
    const std::string cache = dir.File(std::string(name) + ".csq");
    EXPECT_TRUE(sequence_format::SaveSequenceCache(sequence_format::EventTable::FromRecords(rows),
                                                   cache, files)
                    .ok());
    entries.push_back({dir.File(std::string(name) + ".wav"), cache, name, "0.94", name});
  }
  return entries;
}

// The fakes wired to a real scheduler in Amsterdam's time zone, with three
// entries of `songSeconds` and calendar.toml holding `calendarText` (none
// when empty).
struct Rig {
  explicit Rig(const std::string& calendarText, long long songSeconds = 60)
      : audio(clock, songSeconds) {
    window.entries = ThreeEntries(dir, 3);
    if (!calendarText.empty()) {
      std::ofstream(dir.File("calendar.toml"), std::ios::binary) << calendarText;
    }
  }

  // Runs the show from `from` until `until` (local wall-clock times).
  void Run(const calendar::Date& from, int fromSeconds, const calendar::Date& until,
           int untilSeconds) {
    clock.us = calendar::LocalMoment(from, fromSeconds) * kSecond;
    const long long stopAt = calendar::LocalMoment(until, untilSeconds) * kSecond;
    clock.onSleep = [this, stopAt] {
      if (clock.us >= stopAt) window.running = false;
    };
    playback::ShowSession session({port, audio, ui, clock, log, [this] { return window.Now(); }},
                                  {window.running, window, window, window}, window.fadeTimings);
    playback::CalendarFileWindow calendar(dir.path().string());
    if (observer) ui.onDoEvents = [&](int) { observer(calendar); };
    session.SetCalendar(calendar);
    session.Start(playback::Origin{"Start button"});
  }

  // Asks the calendar at every yield of the show, as the watch and the
  // phone page do.
  std::function<void(const playback::ShowCalendar&)> observer;
  calendar_test::ScopedTimeZone zone{"Europe/Amsterdam"};
  fakes::TempDir dir;
  DatedClock clock;
  DatedAudio audio;
  DatedUi ui{clock};
  DatedPort port{clock};
  DatedWindow window{clock, audio};
  MemoryLog log;
};

inline std::string When(long long us) {
  return calendar::Iso8601(us / kSecond);
}

// What the preview says for `from` and the `days` after it.
inline std::vector<calendar::Night> Preview(const std::string& calendarText,
                                            const calendar::Date& from, int days) {
  const calendar::ParsedCalendar parsed = calendar::ParseCalendar(calendarText);
  EXPECT_TRUE(parsed.calendar) << parsed.error;
  const calendar::Season season(parsed.calendar ? *parsed.calendar : calendar::CalendarFile{});
  std::vector<calendar::Night> nights;
  for (int day = 0; day < days; ++day)
    nights.push_back(season.NightOf(calendar::AddDays(from, day)));
  return nights;
}

// Night for night, what played against what the preview said: the port
// opens on the second each night opens (or, where the night before was cut
// short by this one, as that night's last song ends: a song that starts
// before the end plays to its end) and the first song starts with it; every
// song starts inside a night, with that night's volume, the playlist from
// its top, each song right after the one before; the song that crosses the
// night's end is the last, and the port closes as it ends; nothing plays on
// a night without a show.
inline void ExpectPlayedAsPreviewed(const DatedPort& port, const std::vector<Song>& songs,
                                    const std::vector<calendar::Night>& nights,
                                    double songSeconds) {
  const auto& opens = port.opens;
  const auto& closes = port.closes;
  const auto songLength = static_cast<long long>(songSeconds * kSecond);
  // The Start burst opens the port once before the first pause.
  ASSERT_GE(opens.size(), 1u);
  std::size_t open = 1, song = 0;
  long long previousClose = 0;
  bool previousCut = false;
  for (const calendar::Night& night : nights) {
    SCOPED_TRACE(calendar::PreviewLine(night));
    if (!night.HasShow()) {
      previousCut = false;
      continue;
    }
    const long long start = *night.start * kSecond, end = *night.end * kSecond;
    ASSERT_LT(open, opens.size());
    ASSERT_LT(open, closes.size());
    if (previousCut && previousClose > start) {
      EXPECT_EQ(opens[open] / kSecond, previousClose / kSecond) << When(opens[open]);
      EXPECT_LT(previousClose - start, songLength);
    } else {
      EXPECT_EQ(opens[open] / kSecond, *night.start) << When(opens[open]);
    }
    EXPECT_TRUE(song >= songs.size() || songs[song].at >= start) << When(songs[song].at);
    int played = 0;
    long long lastStart = 0;
    for (; song < songs.size() && songs[song].at < end; ++song, ++played) {
      EXPECT_GE(songs[song].at, opens[open]) << When(songs[song].at);
      EXPECT_EQ(songs[song].volume, night.volume) << When(songs[song].at);
      EXPECT_EQ(songs[song].row, played % 3) << When(songs[song].at);
      if (played == 0) {
        EXPECT_EQ(songs[song].at / kSecond, opens[open] / kSecond) << When(songs[song].at);
      } else {
        EXPECT_LT(songs[song].at - lastStart - songLength, kSecond / 100) << When(songs[song].at);
      }
      lastStart = songs[song].at;
    }
    EXPECT_GT(played, 0);
    const long long lastEnd = lastStart + songLength;
    EXPECT_GE(lastEnd, end);
    EXPECT_GE(closes[open], lastEnd) << When(closes[open]);
    EXPECT_LT(closes[open] - lastEnd, kSecond / 100) << When(closes[open]);
    previousClose = closes[open];
    previousCut = night.cutByNext;
    ++open;
  }
  EXPECT_EQ(open, opens.size()) << "the port opened on a night the preview has no show";
  EXPECT_EQ(song, songs.size()) << "a song started outside every night: " << When(songs[song].at);
}

}  // namespace calendar_show
