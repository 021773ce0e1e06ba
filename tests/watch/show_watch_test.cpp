#include "watch/show_watch.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <latch>
#include <string>
#include <vector>

#include "playback/calendar_file_window.h"
#include "playback/show_event.h"
#include "playback/show_scheduler.h"
#include "tests/fakes/fake_time_source.h"
#include "tests/fakes/fake_worker.h"

namespace {

using namespace std::chrono_literals;
namespace ev = playback::show_event;

// A line of show.log at `time` on the 24th, as the show writes it.
std::string Line(const char* time, const playback::ShowEvent& event) {
  return std::string("2026-12-24 ") + time + " " + playback::Describe(event) + "\n";
}

class RecordingManager : public platform::ServiceManager {
 public:
  platform::Status Notify(const std::string& state) override {
    sent.push_back(state);
    return platform::Status::Ok();
  }
  std::chrono::microseconds WatchdogInterval() const override { return 30s; }
  std::vector<std::string> sent;
};

// Alert commands that end at once; the test reads who was told what.
class RecordingStarter : public platform::ChildStarter {
 public:
  platform::Result<std::unique_ptr<platform::ChildProcess>> Start(
      const std::vector<std::string>& argv) override {
    told.push_back(argv.at(1) + ": " + argv.at(2));
    return std::unique_ptr<platform::ChildProcess>(std::make_unique<Done>());
  }
  std::vector<std::string> Events() const {
    std::vector<std::string> events;
    for (const std::string& t : told) events.push_back(t.substr(0, t.find(':')));
    return events;
  }
  std::vector<std::string> told;

 private:
  class Done : public platform::ChildProcess {
   public:
    std::optional<platform::ChildExit> Poll() override { return platform::ChildExit{}; }
    std::string TakeOutput() override { return {}; }
    void Kill() override {}
  };
};

constexpr int H = 3600;

class ShowWatchTest : public ::testing::Test {
 protected:
  // The daily window 5:30 PM to 11:00 PM at `now` seconds of the day.
  static watch::ShowWindowNow At(int now) {
    const int start = 17 * H + 30 * 60, end = 23 * H;
    return {start <= now && now <= end, ((start - now) % 86400 + 86400) % 86400, "5:30:00 PM",
            "11:00:00 PM"};
  }
  watch::ShowWatch::Hooks Hooks() {
    return {.check =
                [this] {
                  ++checks;
                  return watch::ShowWatch::CheckJob{.read = [this](const auto&) { ++reads; },
                                                    .finish =
                                                        [this] {
                                                          watch::NightCheckReport report;
                                                          report.entries = 4;
                                                          if (!checkProblem.empty())
                                                            report.problems.push_back(checkProblem);
                                                          for (const std::string& p : moreProblems)
                                                            report.problems.push_back(p);
                                                          return report;
                                                        }};
                },
            .readLog = [this] { return logText; },
            .log = [this](const playback::ShowEvent& event) { Log(event); },
            .notice = [this](const std::string& text) { notices.push_back(text); },
            .portOpen = [this] { return portOpen; }};
  }
  // Runs the show's yield points from `from` to `to` (seconds of the day),
  // ten a second, as the pause wait does.
  void Run(int from, int to) {
    for (int tenth = from * 10; tenth < to * 10; ++tenth) {
      time.Advance(100ms);
      show.Poll(At(tenth / 10));
    }
  }

  fakes::FakeTimeSource time;
  RecordingManager manager;
  RecordingStarter starter;
  watch::ServiceWatch service{&manager, time};
  void Log(const playback::ShowEvent& event) { logged.push_back(playback::Describe(event)); }
  // Lets the alert commands raised so far run (they end at once).
  void Drain() {
    for (int i = 0; i < 20; ++i) alerts.Poll();
  }

  watch::AlertRunner alerts{"/usr/local/bin/tell-me", starter, time,
                            [this](const playback::ShowEvent& event) { Log(event); }};
  watch::ClockWatch clock{time, time.wall - 24h};
  int checks = 0;
  int reads = 0;
  std::string checkProblem;
  std::vector<std::string> moreProblems;
  bool portOpen = true;
  std::string logText;
  std::vector<std::string> logged;
  std::vector<std::string> notices;
  fakes::FakeWorker worker;
  watch::ShowWatch show{alerts, service, clock, time, worker, Hooks(), false};
};

// A lost Cache folder: hundreds of problems. The alert still reaches the
// command, short enough for any system's argument limit, and the log keeps
// every problem on a line of its own.
TEST_F(ShowWatchTest, AHugeCheckReportIsToldShortAndKeptWholeInTheLog) {
  for (int i = 1; i <= 300; ++i) {
    moreProblems.push_back("entry " + std::to_string(i) + " \"" + std::string(600, 'x') +
                           "\": cache missing");
  }
  show.Started(false, At(17 * H));
  Run(17 * H + 20 * 60 - 1, 17 * H + 20 * 60 + 1);
  Drain();
  ASSERT_EQ(starter.told.size(), 1u);
  const std::string prefix = "check-failed: ";
  const std::string told = starter.told[0].substr(prefix.size());
  EXPECT_LE(told.size(), watch::kAlertTextLimit);
  EXPECT_EQ(told, "Check before the night: 300 problems; the first: " + moreProblems[0] +
                      " (all of it in show.log)");
  EXPECT_EQ(notices, std::vector<std::string>{told});
  std::vector<std::string> problemLines;
  for (const std::string& line : logged) {
    if (line.starts_with("Check before the night, problem ")) problemLines.push_back(line);
  }
  ASSERT_EQ(problemLines.size(), 300u);
  EXPECT_EQ(problemLines.back(),
            "Check before the night, problem 300 of 300: " + moreProblems.back());
  // A first problem longer than the alert itself is cut.
  watch::NightCheckReport report;
  report.problems = {std::string(10000, 'y'), "second"};
  const std::string shortened = watch::ShortNightCheck(report);
  EXPECT_EQ(shortened.size(), watch::kAlertTextLimit);
  EXPECT_TRUE(shortened.ends_with("yyy... (all of it in show.log)")) << shortened.substr(4000);
  // A report that fits is told as it always was.
  report.problems = {"serial port: COM1: no serial device"};
  EXPECT_EQ(watch::ShortNightCheck(report), watch::DescribeNightCheck(report));
  EXPECT_TRUE(watch::NightCheckProblemLines(report, 2048).empty());
}

// The adapter stays unplugged: the check fails ten minutes before, and the
// window opens without a song.
TEST_F(ShowWatchTest, TheCheckRunsTenMinutesBeforeAndAWindowWithoutASongIsAMissedStart) {
  checkProblem = "serial port: COM1: no serial device";
  show.Started(false, At(17 * H));
  Run(17 * H, 17 * H + 20 * 60 - 1);
  EXPECT_EQ(checks, 0);
  Run(17 * H + 20 * 60 - 1, 17 * H + 20 * 60 + 1);
  EXPECT_EQ(checks, 1);
  EXPECT_EQ(starter.told, std::vector<std::string>{
                              "check-failed: Check before the night: 1 problem: serial port: "
                              "COM1: no serial device"});
  EXPECT_EQ(notices.size(), 1u);
  // Once a night: not again when the window opens.
  Run(17 * H + 20 * 60 + 1, 17 * H + 31 * 60 - 1);
  EXPECT_EQ(checks, 1);
  EXPECT_EQ(starter.Events(), std::vector<std::string>{"check-failed"});
  Run(17 * H + 31 * 60 - 1, 17 * H + 31 * 60 + 1);
  EXPECT_EQ(starter.Events(), (std::vector<std::string>{"check-failed", "missed-start"}));
  EXPECT_EQ(starter.told.back(),
            "missed-start: the window 5:30:00 PM to 11:00:00 PM opened and no song has started "
            "within a minute");
}

// A cache of gigabytes takes seconds to read. The show goes on meanwhile
// (its loop, its pings), the findings are told as before once the read is
// done, and a check due while one still reads waits its turn.
TEST_F(ShowWatchTest, TheCheckReadsAsideAndIsToldWhenDoneOneAtATime) {
  checkProblem = "serial port: COM1: no serial device";
  const std::string told = "check-failed: Check before the night: 1 problem: " + checkProblem;
  const auto pings = [this] {
    return std::count(manager.sent.begin(), manager.sent.end(), "WATCHDOG=1");
  };
  const auto checkLines = [this] {
    return std::count_if(logged.begin(), logged.end(), [](const std::string& line) {
      return line.starts_with("Check before the night");
    });
  };
  const auto checksTold = [this] {
    std::vector<std::string> told;
    std::copy_if(starter.told.begin(), starter.told.end(), std::back_inserter(told),
                 [](const std::string& t) { return t.starts_with("check-failed"); });
    return told;
  };
  worker.hold = true;
  show.Started(false, At(20 * H));
  Run(20 * H, 20 * H + 60);
  EXPECT_EQ(checks, 1);
  EXPECT_EQ(reads, 0);
  EXPECT_GE(pings(), 4) << "the watchdog is fed while the files are read";
  EXPECT_EQ(checkLines(), 0);
  Drain();
  EXPECT_EQ(checksTold(), std::vector<std::string>{});

  // The window closes and the next night's check falls due: not started
  // beside the one still reading.
  Run(20 * H + 60, 23 * H + 1);
  Run(17 * H + 15 * 60, 17 * H + 25 * 60);
  EXPECT_EQ(worker.started, 1);
  worker.Finish();
  Run(17 * H + 25 * 60, 17 * H + 25 * 60 + 1);
  Drain();
  EXPECT_EQ(reads, 1);
  EXPECT_EQ(checksTold(), std::vector<std::string>{told});
  EXPECT_EQ(notices.size(), 1u);
  EXPECT_EQ(checkLines(), 1);
  EXPECT_EQ(worker.started, 2) << "the check that waited starts once the first is told";

  // The show ends while it reads: the read is stopped and nothing is told.
  show.Stopping();
  EXPECT_TRUE(worker.stopped);
  EXPECT_FALSE(worker.Busy());
  Run(17 * H + 25 * 60 + 1, 17 * H + 26 * 60);
  Drain();
  EXPECT_EQ(checkLines(), 1);
  EXPECT_EQ(checksTold(), std::vector<std::string>{told});
}

// The same on a thread of its own: a read that waits on a latch leaves
// every poll of the show's thread free, a stop does not wait for the read
// to end on its own, and a read that ends is told at the next poll.
TEST_F(ShowWatchTest, OnAThreadTheReadNeverHoldsAPollAndAStopEndsIt) {
  checkProblem = "serial port: COM1: no serial device";
  const auto checkLines = [this] {
    return std::count_if(logged.begin(), logged.end(), [](const std::string& line) {
      return line.starts_with("Check before the night");
    });
  };
  // The fixture's check, its read waiting on `latch` and then until stopped
  // when `untilStopped`.
  const auto reading = [this](std::latch& latch, bool untilStopped) {
    watch::ShowWatch::Hooks hooks = Hooks();
    hooks.check = [&latch, untilStopped, plain = hooks.check] {
      watch::ShowWatch::CheckJob job = plain();
      job.read = [&latch, untilStopped](const std::function<bool()>& keepGoing) {
        latch.wait();
        while (untilStopped && keepGoing()) {
        }
      };
      return job;
    };
    return hooks;
  };
  watch::ThreadWorker thread;

  std::latch first(1);
  watch::ShowWatch stopped{alerts, service, clock, time, thread, reading(first, true), false};
  stopped.Started(false, At(20 * H));
  for (int i = 0; i < 600; ++i) {
    time.Advance(100ms);
    stopped.Poll(At(20 * H));
  }
  EXPECT_TRUE(thread.Busy());
  EXPECT_GE(std::count(manager.sent.begin(), manager.sent.end(), "WATCHDOG=1"), 4);
  first.count_down();
  stopped.Stopping();
  EXPECT_FALSE(thread.Busy());
  EXPECT_EQ(checkLines(), 0);

  std::latch second(1);
  watch::ShowWatch ends{alerts, service, clock, time, thread, reading(second, false), false};
  ends.Started(false, At(20 * H));
  ends.Poll(At(20 * H));
  EXPECT_EQ(checkLines(), 0);
  second.count_down();
  thread.Wait();
  ends.Poll(At(20 * H));
  EXPECT_EQ(checkLines(), 1);
  EXPECT_NE(
      std::find(logged.begin(), logged.end(), "Check before the night: 1 problem: " + checkProblem),
      logged.end());
}

TEST_F(ShowWatchTest, ASongWithinTheMinuteIsNoMissedStartAndEventsBecomeAlerts) {
  show.Started(false, At(17 * H + 29 * 60));
  Run(17 * H + 29 * 60, 17 * H + 30 * 60 + 30);
  // As the show makes them; the second of each told no more.
  for (const playback::ShowEvent& event :
       {ev::EntryStarted(0, "Jingle"), ev::PortLost("COM1", "write failed: Input/output error"),
        ev::PortBack("COM1"), ev::PlaysSilently(1, "no audio device: none found"),
        ev::PlaysSilently(2, "no audio device: none found"), ev::NothingPlayable("x"),
        ev::NothingPlayable("x")}) {
    show.Event(event);
  }
  Run(17 * H + 30 * 60 + 30, 17 * H + 35 * 60);
  EXPECT_EQ(starter.Events(),
            (std::vector<std::string>{"port-lost", "port-back", "audio-lost", "nothing-playable"}));
}

TEST_F(ShowWatchTest, SongsPlayingWithTheAdapterUnpluggedAreAMissedStart) {
  show.Started(false, At(17 * H + 29 * 60));
  portOpen = false;  // the next entry could not open it: music without lights
  Run(17 * H + 29 * 60, 17 * H + 30 * 60 + 5);
  show.Event(ev::EntryStarted(0, "Jingle"));
  Run(17 * H + 30 * 60 + 5, 17 * H + 31 * 60 + 1);
  ASSERT_EQ(starter.Events(), std::vector<std::string>{"missed-start"});
  EXPECT_EQ(starter.told.back(),
            "missed-start: the window 5:30:00 PM to 11:00:00 PM opened and no song has played "
            "with the serial port open within a minute: the lights stay dark");
  // The adapter is back for the next night, whose first song is lit.
  portOpen = true;
  Run(17 * H + 31 * 60 + 1, 23 * H + 1);
  Run(17 * H + 29 * 60, 17 * H + 30 * 60 + 5);
  show.Event(ev::EntryStarted(0, "Jingle"));
  Run(17 * H + 30 * 60 + 5, 17 * H + 32 * 60);
  EXPECT_EQ(starter.Events(), std::vector<std::string>{"missed-start"})
      << "only the first night was dark";
}

TEST_F(ShowWatchTest, AStartInsideTheWindowChecksAtOnceAndARestartIsTold) {
  show.Started(true, At(20 * H));
  EXPECT_EQ(checks, 1);
  EXPECT_EQ(starter.Events(), std::vector<std::string>{"restarted"});
  EXPECT_EQ(logged.front(),
            "Alert restarted: the show came back after it ended without a stop "
            "(a crash, a hang or a power cut)");
  EXPECT_EQ(manager.sent.front(), "READY=1");
}

TEST_F(ShowWatchTest, TheWindowsCloseSumsUpTheNightAndAShortOneIsTold) {
  logText = Line("17:30:00", ev::NightWindow("5:30:00 PM", "11:00:00 PM")) +
            Line("17:30:00", ev::EntryStarted(0, "Song")) + Line("20:00:00", ev::EntryFinished(0));
  show.Started(false, At(22 * H + 59 * 60));
  show.Event(ev::EntryStarted(0, "Song"));
  Run(22 * H + 59 * 60, 23 * H + 2);
  ASSERT_EQ(starter.Events(), (std::vector<std::string>{"summary", "night-short"}));
  EXPECT_EQ(starter.told[0],
            "summary: Night of 2026-12-24: played 150 of 330 minutes (45 %), 1 song, 0 skipped, 0 "
            "late keep-alives, 0 port losses, 0 silent");
}

// Stopped by the operator at six, the night is summed up when its window
// closes, against the half hour the show was asked to play: no short night.
TEST_F(ShowWatchTest, AnOperatorsStopIsNoShortNight) {
  logText = Line("17:00:00", ev::ShowStarted("Start button")) +
            Line("17:00:00", ev::Paused("5:30:00 PM", "11:00:00 PM")) +
            Line("17:20:00", ev::NightWindow("5:30:00 PM", "11:00:00 PM")) +
            Line("17:30:00", ev::Resumed()) + Line("17:30:00", ev::EntryStarted(0, "Song")) +
            Line("18:00:00", ev::EntryFinished(0)) +
            Line("18:00:00", ev::ShowStopped("Stop button"));
  show.Started(false, At(17 * H + 59 * 60));
  show.Event(ev::EntryStarted(0, "Song"));
  Run(17 * H + 59 * 60, 18 * H + 1);
  show.Event(ev::EntryFinished(0));
  show.Event(ev::ShowStopped("Stop button"));
  Drain();
  EXPECT_EQ(starter.Events(), std::vector<std::string>{}) << "nothing at the Stop itself";
  Run(18 * H + 1, 23 * H + 2);
  ASSERT_EQ(starter.told,
            std::vector<std::string>{"summary: Night of 2026-12-24: played 30 of 30 minutes (100 "
                                     "%), 1 song, 0 skipped, 0 late keep-alives, 0 port losses, 0 "
                                     "silent"});

  // Stopped before its window opened, a night has nothing to sum up, and a
  // window without a song is no missed start.
  starter.told.clear();
  logText = Line("17:00:00", ev::ShowStarted("Start button")) +
            Line("17:00:00", ev::Paused("5:30:00 PM", "11:00:00 PM")) +
            Line("17:10:00", ev::ShowStopped("Stop button"));
  Run(17 * H, 23 * H + 2);
  EXPECT_EQ(starter.Events(), std::vector<std::string>{});
}

// The show retries every ten seconds while nothing can play, and a calendar
// with a mistake keeps it waiting: each is told once, again only when the
// show has played in between or the trouble reads differently.
TEST_F(ShowWatchTest, ALastingTroubleIsToldOncePerOutage) {
  show.Started(false, At(17 * H + 29 * 60));
  const auto retry = [this](const std::string& problem) {
    show.Event(ev::EntryStarted(0, "Song"));
    show.Event(ev::EntrySkipped(0, problem));
    show.Event(ev::NothingPlayable(problem));
  };
  for (int i = 0; i < 6; ++i) retry("audio: a.mp3: gone");
  Drain();
  EXPECT_EQ(starter.Events(), std::vector<std::string>{"nothing-playable"});
  retry("audio: b.mp3: gone");  // another file at fault
  show.Event(ev::EntryStarted(0, "Song"));
  show.Event(ev::EntryFinished(0));
  retry("audio: a.mp3: gone");
  Drain();
  EXPECT_EQ(starter.Events(), std::vector<std::string>(3, "nothing-playable"));

  starter.told.clear();
  for (int i = 0; i < 3; ++i) show.Event(ev::PausedCalendarRefused("calendar.toml line 2: x"));
  show.Event(ev::PausedCalendarRefused("calendar.toml line 9: y"));
  Drain();
  ASSERT_EQ(starter.told.size(), 2u);
  EXPECT_EQ(starter.told[0],
            "check-failed: " + playback::CalendarRefusedText("calendar.toml line 2: x"));
  EXPECT_EQ(notices.size(), 2u) << "the window and the page show it too";

  // The check before each night finds the same problem: told the first night.
  starter.told.clear();
  checkProblem = "serial port: COM1: no serial device";
  Run(17 * H + 29 * 60, 23 * H + 1);
  Run(17 * H + 15 * 60, 17 * H + 25 * 60);
  EXPECT_EQ(checks, 2);
  EXPECT_EQ(std::count(starter.told.begin(), starter.told.end(),
                       "check-failed: Check before the night: 1 problem: serial port: COM1: no "
                       "serial device"),
            1);
}

TEST_F(ShowWatchTest, TheWatchdogIsFedFromThePauseWaitAndAClockJumpIsTold) {
  show.Started(false, At(12 * H));
  Run(12 * H, 12 * H + 60);
  EXPECT_GE(std::count(manager.sent.begin(), manager.sent.end(), "WATCHDOG=1"), 4);
  time.Jump(-std::chrono::hours(2));
  Run(12 * H + 60, 12 * H + 80);
  EXPECT_EQ(starter.Events(), std::vector<std::string>{"clock-jump"});
  show.Status("Show Paused");
  show.Stopping();
  EXPECT_EQ(manager.sent.back(), "STOPPING=1");
  EXPECT_EQ(manager.sent.end()[-2], "STATUS=Show Paused");
}

}  // namespace
