#include "playback/show_log.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "platform/log_file.h"
#include "tests/fakes/temp_dir.h"

namespace {

using playback::NightSummary;
using playback::ShowLog;
using Texts = std::vector<std::string>;
using playback::show_event::Said;

// A night's date, shows, songs played and skipped, late keep-alives, lost
// ports, late lines and entries skipped by request.
Texts Rows(const std::vector<NightSummary>& nights) {
  Texts rows;
  for (const NightSummary& n : nights) {
    rows.push_back(n.date + " " + std::to_string(n.shows) + " " + std::to_string(n.played) + " " +
                   std::to_string(n.skipped) + " " + std::to_string(n.lateKeepAlives) + " " +
                   std::to_string(n.portLosses) + " " + std::to_string(n.lateLines) + " " +
                   std::to_string(n.skippedByRequest));
  }
  return rows;
}

struct FakeLogFile : platform::LogFile {
  platform::Status AppendLine(const std::string& line) override {
    if (!failWith.empty()) return platform::Status::Error(failWith);
    lines.push_back(line);
    return platform::Status::Ok();
  }
  std::vector<std::string> lines;
  std::string failWith;
};

TEST(ShowLog, OneLinePerEventAfterItsDateAndTime) {
  FakeLogFile file;
  ShowLog log(file, [] { return std::string("2026-12-24 17:30:00"); });
  log.Write(playback::show_event::ShowStarted("autostart"));
  // A reason from the system may hold line breaks; the event stays one line.
  log.Write(playback::show_event::PortLost("COM1", "gone\r\naway"));
  EXPECT_EQ(file.lines, (Texts{"2026-12-24 17:30:00 Show started (autostart)",
                               "2026-12-24 17:30:00 Port COM1 lost: gone  away"}));
}

TEST(ShowLog, AFailingLogIsToldOnceAndNeverStopsTheShow) {
  FakeLogFile file;
  file.failWith = "disk full";
  std::vector<std::string> told;
  ShowLog log(
      file, [] { return std::string("now"); },
      [&told](const std::string& why) { told.push_back(why); });
  log.Write(Said("one"));
  log.Write(Said("two"));
  EXPECT_EQ(told, Texts{"disk full"});
  file.failWith.clear();
  log.Write(Said("three"));  // the log works again as soon as the file does
  EXPECT_EQ(file.lines, Texts{"now three"});
}

TEST(LogFile, PastItsLimitTheFileMovesOnAndFiveOlderGenerationsAreKept) {
  fakes::TempDir dir;
  const std::string path = dir.File("show.log");
  auto file = platform::MakeLogFile(path, 30);
  ASSERT_TRUE(file->AppendLine("first line, 20 bytes").ok());  // 21 with its line feed
  ASSERT_TRUE(file->AppendLine("second").ok());                // 28: still fits
  ASSERT_TRUE(file->AppendLine("third").ok());                 // 34: moves on
  EXPECT_EQ(fakes::ReadBytes(path + ".1"), "first line, 20 bytes\nsecond\n");
  EXPECT_EQ(fakes::ReadBytes(path), "third\n");
  ASSERT_TRUE(file->AppendLine("fourth line that is longer than the limit").ok());
  ASSERT_TRUE(file->AppendLine("fifth").ok());
  EXPECT_EQ(fakes::ReadBytes(path + ".1"), "fourth line that is longer than the limit\n");
  EXPECT_EQ(fakes::ReadBytes(path + ".2"), "third\n");
  EXPECT_EQ(fakes::ReadBytes(path), "fifth\n");

  // One older generation of 1 MB let a busy pass push out the earlier nights
  // that glimmer log sums up.
  const std::string busy = dir.File("busy.log");
  auto busyFile = platform::MakeLogFile(busy, 10);
  for (int line = 1; line <= 8; ++line) {
    ASSERT_TRUE(busyFile->AppendLine("line " + std::to_string(line)).ok());
  }
  EXPECT_EQ(fakes::ReadBytes(busy), "line 8\n");
  for (int generation = 1; generation <= platform::kLogGenerations; ++generation) {
    EXPECT_EQ(fakes::ReadBytes(busy + "." + std::to_string(generation)),
              "line " + std::to_string(8 - generation) + "\n");
  }
  EXPECT_FALSE(std::filesystem::exists(busy + ".6"));
}

TEST(ShowLog, LongEventsAreCutAndRepeatsAreCounted) {
  FakeLogFile file;
  ShowLog log(file, [] { return std::string("t"); });
  log.Write(playback::show_event::EntryStarted(0, std::string(300000, 'x')));
  ASSERT_EQ(file.lines.size(), 1u);
  EXPECT_LE(file.lines[0].size(), ShowLog::kMaxEventBytes + 40);
  EXPECT_NE(file.lines[0].find("more bytes)"), std::string::npos);

  file.lines.clear();
  for (int i = 0; i < 5; ++i) log.Write(Said("Late keep-alive: 3 seconds"));
  log.Write(Said("Resumed"));
  for (int i = 0; i < ShowLog::kMaxRepeats + 2; ++i) log.Write(Said("Paused"));
  EXPECT_EQ(file.lines, (Texts{
                            "t Late keep-alive: 3 seconds",
                            "t (the line before repeated 4 more times)",
                            "t Resumed",
                            "t Paused",
                            "t (the line before repeated 1000 more times)",
                        }));
}

TEST(SummarizeShowLog, CountsPerNightFromNoonToNoon) {
  namespace e = playback::show_event;
  const auto D = [](const playback::ShowEvent& event) { return playback::Describe(event); };
  const std::string log =
      // Lines since the offset from UTC was added carry it after the time.
      "2026-12-23 17:30:00 +0100 " + D(e::ShowStarted("autostart")) + "\n" +
      "2026-12-23 17:30:01 " + D(e::EntryStarted(0, "The song that finished first")) + "\n" +
      "2026-12-23 17:33:00 " + D(e::EntryFinished(0)) + "\n" + "2026-12-23 23:59:00 " +
      D(e::EntrySkipped(1, "audio: gone")) + "\n" +
      // After midnight: still the evening of the 23rd.
      "2026-12-24 00:10:00 -0500 " + D(e::LateKeepAlive(3)) + "\n" + "2026-12-24 00:11:00 " +
      D(e::PortLost("COM1", "Input/output error")) + "\n" + "2026-12-24 00:11:30 " +
      D(e::LineLate(2, 60, "0:12", 56000)) + "\n" + "2026-12-24 00:11:40 " +
      D(e::LineLate(0, 81, "1:23", 56000)) + "\n" + "2026-12-24 00:12:00 " +
      D(e::PortBack("COM1")) + "\n" + "a line someone typed into the file\n" +
      "2026-12-24 17:30:00 " + D(e::ShowStarted("Start button")) + "\n" + "2026-12-24 17:34:00 " +
      D(e::EntryFinished(0)) + "\n" + "2026-12-24 17:34:30 " + D(e::EntryCut(1)) + "\n" +
      "2026-12-24 17:35:00 " + D(e::ShowStopped("Stop button")) + "\n" +
      // New Year's morning belongs to New Year's Eve.
      "2027-01-01 01:00:00 " + D(e::EntryFinished(0)) + "\n" + "2027-03-01 06:00:00 " +
      D(e::EntryFinished(0));  // the last line without its line feed
  EXPECT_EQ(Rows(playback::SummarizeShowLog(log)),
            (Texts{"2026-12-23 1 1 1 1 1 2 0", "2026-12-24 1 1 0 0 0 0 1",
                   "2026-12-31 0 1 0 0 0 0 0", "2027-02-28 0 1 0 0 0 0 0"}));
}

// A date that does not exist used to index past the table of month lengths
// ("2026-14-01" before noon); it is no event now, and counted as such.
TEST(SummarizeShowLog, ImpossibleDatesAndOtherLinesAreCountedNotRead) {
  const std::string log =
      "2026-13-01 05:00:00 Show started (Start button)\n"
      "2026-14-01 05:00:00 Show started (Start button)\n"
      "2026-00-01 05:00:00 Show started (Start button)\n"
      "2026-02-30 18:00:00 Show started (Start button)\n"
      "2026-12-24 25:00:00 Show started (Start button)\n"
      "not a line of the show log\n"
      "\n"
      "2027-01-01 05:00:00 Entry 1 finished\n";
  int notUnderstood = -1;
  EXPECT_EQ(Rows(playback::SummarizeShowLog(log, &notUnderstood)),
            Texts{"2026-12-31 0 1 0 0 0 0 0"});
  EXPECT_EQ(notUnderstood, 6);
}

}  // namespace
