// The real `glimmer show` against a pseudo-terminal: the saved playlist plays
// into the line, Ctrl+C stops it as the Stop button does, SIGTERM as closing
// the window does, and the show log tells what happened.
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <functional>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "binary/wav_writer.h"
#include "platform/show_lock.h"
#include "playback/show_scheduler.h"
#include "playback/wire_protocol.h"
#include "sequence_format/fade_timing.h"
#include "shell/preferences.h"
#include "tests/fakes/pty_line.h"
#include "tests/fakes/script_file.h"
#include "tests/fakes/temp_dir.h"
#include "tests/playback/playback_rig.h"
#include "tests/tools/glimmer_process.h"
#include "tools/glimmer/console_show_window.h"
#include "watch/alerts.h"

namespace {

using playback_test::Row;

std::string Encoded(const sequence_format::EventTable::Record& row) {
  std::string bytes;
  playback::EncodeEvent(row, 0, sequence_format::kFadeTimingTable, bytes);
  return bytes;
}

// Expects the line to carry the port-open burst, then message `a`, then `b`.
// Waits until it has, the program has ended, or the deadline passes (a hung
// program fails the test instead of hanging it).
void ExpectBurstThenInOrder(const fakes::PtyLine& line, tools_test::GlimmerProcess& glimmer,
                            const std::string& a, const std::string& b) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  for (;;) {
    const std::string received = line.Received();
    const auto atA = received.find(a);
    const bool both =
        atA != std::string::npos && received.find(b, atA + a.size()) != std::string::npos;
    if (both || !glimmer.Running() || std::chrono::steady_clock::now() >= end) {
      ASSERT_NE(atA, std::string::npos) << playback_test::ToHex(received) << "\n" << glimmer.Err();
      EXPECT_NE(received.find(b, atA + a.size()), std::string::npos)
          << playback_test::ToHex(received);
      EXPECT_LT(received.find(std::string(playback::kPortOpenBurst)), atA);
      return;
    }
    // Look again when the program next writes to the line, or shortly.
    pollfd wrote{line.MasterFd(), POLLIN, 0};
    ::poll(&wrote, 1, 20);
  }
}

// The show log's events, without the time stamps ("YYYY-MM-DD HH:MM:SS
// +hhmm ") and without the lines that depend on the machine: sound, and the
// watch's own checks.
std::vector<std::string> Events(const std::string& log) {
  std::vector<std::string> events;
  std::istringstream lines(log);
  for (std::string e; std::getline(lines, e);) {
    if (e.size() <= 26) {
      events.push_back("(short line) " + e);
    } else if (e.find("plays silently") == e.npos &&
               !std::regex_search(e.substr(26), std::regex("^(Night window|Check before the "
                                                           "night|Alert |Waiting up to )"))) {
      events.push_back(e.substr(26));
    }
  }
  return events;
}

// preferences.txt open all day, so the show plays at once whatever the time.
std::string OpenAllDay(const char* autostart) {
  return std::string("1\r\n115200\r\n5\r\n12:00:00 AM\r\n11:59:59 PM\r\n") + autostart +
         "\r\nc:\\\r\n";
}

// Ctrl+C is the Stop button: the show will not start by itself next time.
// SIGTERM (a shutdown, `systemctl stop`) is closing the window: the flag
// stays, so the show comes back after the next boot.
TEST(GlimmerShow, PlaysTheSavedPlaylistIntoTheLineAndStopsOnASignal) {
  const struct {
    int signal;
    const char* autostartAfter;
    const char* logLine;
    bool printsStopped;  // SIGTERM ends at once, without the Stop button's goodbye
  } cases[] = {
      {SIGINT, "0", "Show stopped (SIGINT, as the Stop button)", true},
      {SIGTERM, "1", "Show stopped (SIGTERM, as closing the window)", false},
      // A hang-up ended the show without a log line, the flag left "1".
      {SIGHUP, "1", "Show stopped (SIGHUP, as closing the window)", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::strsignal(c.signal));
    fakes::TempDir dir;
    playback_test::Rig rig;  // for its cache writer
    const auto rowA = Row(0, 1, 2, 33, 7, 7);
    const auto rowB = Row(0, 2, 4, 33, 9, 9);
    std::string playlist = "\2600.94\r\n";
    for (const auto& [n, row] :
         {std::pair{std::string("A"), rowA}, std::pair{std::string("B"), rowB}}) {
      rig.WriteCache(dir.File(n + ".csq"), {row});
      fakes::WriteBytes(dir.File(n + ".wav"), binary::SilentWav(8000, 1, 2400));  // 0.3 s
      playlist += dir.File(n + ".wav") + "\r\n" + dir.File(n + ".csq") + "\r\n" + "Song " + n +
                  "\r\n" + n + ".msq\r\n0.94\r\n";
    }
    fakes::WriteBytes(dir.File("playlist.txt"), playlist);
    fakes::WriteBytes(dir.File("preferences.txt"), OpenAllDay("0"));
    const auto autostart = [&] {
      return shell::ParsePreferences(fakes::ReadBytes(dir.File("preferences.txt"))).autostart;
    };
    const fakes::PtyLine pty;

    tools_test::GlimmerProcess glimmer(dir, {"show", "--dir", dir.path().string(), "--device",
                                             pty.Name(), "--wait-for-devices", "0"});
    ASSERT_TRUE(glimmer.Started());

    ASSERT_NO_FATAL_FAILURE(ExpectBurstThenInOrder(pty, glimmer, Encoded(rowA), Encoded(rowB)));
    // While the show runs, it starts again by itself after a power cut.
    EXPECT_EQ(autostart(), "1");

    glimmer.Signal(c.signal);
    EXPECT_EQ(glimmer.Wait(), 0) << glimmer.Err();

    EXPECT_EQ(autostart(), c.autostartAfter);
    // The console's own words, each song as it starts, none of the window's
    // "Press Stop..." texts.
    using View = glimmer::ConsoleShowView;
    const std::string out = glimmer.Out();
    EXPECT_EQ(out.substr(0, out.find('\n')), View::kShowRunningWords) << out;
    const auto first = out.find("\nPlaying 1 of 2: Song A\n");
    EXPECT_NE(first, std::string::npos) << out;
    const auto second = out.find("\nPlaying 2 of 2: Song B\n");
    EXPECT_NE(second, std::string::npos) << out;
    EXPECT_GT(second, first) << out;
    for (const char* window : {playback::kRunningText, playback::kStoppedText}) {
      EXPECT_EQ(out.find(window), std::string::npos) << out;
    }
    if (c.printsStopped) {
      EXPECT_EQ(out.substr(out.rfind('\n', out.size() - 2) + 1),
                std::string(View::kShowStoppedWords) + "\n");
    } else {
      EXPECT_EQ(out.find(View::kShowStoppedWords), std::string::npos) << out;
    }

    const std::vector<std::string> events = Events(fakes::ReadBytes(dir.File("show.log")));
    ASSERT_GE(events.size(), 6u);
    EXPECT_EQ(std::vector<std::string>(events.begin(), events.begin() + 5),
              (std::vector<std::string>{"Show started (glimmer show)", "Port COM1 opened",
                                        "Entry 1 started: Song A", "Entry 1 finished",
                                        "Entry 2 started: Song B"}));
    EXPECT_NE(std::find(events.begin(), events.end(), c.logLine), events.end())
        << fakes::ReadBytes(dir.File("show.log"));
  }
}

// `glimmer play` is one playlist entry on its own.
TEST(GlimmerPlay, PlaysOneSequenceIntoTheLineAndEndsWithTheSong) {
  fakes::TempDir dir;
  playback_test::Rig rig;  // for its cache writer
  const auto first = Row(0, 1, 2, 33, 7, 7);
  const auto later = Row(8820, 2, 4, 33, 9, 9);  // a tenth of a second in
  rig.WriteCache(dir.File("song.csq"), {first, later});
  fakes::WriteBytes(dir.File("song.wav"), binary::SilentWav(8000, 1, 4000));  // 0.5 s
  const fakes::PtyLine pty;

  tools_test::GlimmerProcess glimmer(dir, {"play", "--silent", "--device", pty.Name(),
                                           dir.File("song.csq"), dir.File("song.wav")});
  ASSERT_TRUE(glimmer.Started());
  ExpectBurstThenInOrder(pty, glimmer, Encoded(first), Encoded(later));
  EXPECT_EQ(glimmer.Wait(), 0) << glimmer.Err();
}

// A device that is not there ends the show after the wait for devices, and
// the service manager starts it again: the operator is told once, not at
// every try, and the alert reaches the command before the program ends.
TEST(GlimmerShow, AnAdapterThatNeverCameExitsOneAndIsToldOnceAcrossRetries) {
  fakes::TempDir dir;
  fakes::WriteBytes(dir.File("preferences.txt"), OpenAllDay("1"));
  const std::string told = dir.File("told.txt");
  fakes::WriteScript(dir.File("tell"), "printf '%s: %s\\n' \"$1\" \"$2\" >> '" + told + "'");
  fakes::WriteBytes(dir.File("settings.toml"),
                    "[alerts]\ncommand = \"" + dir.File("tell") + "\"\n");
  const std::string missing =
      "waited 0 seconds; still missing: the serial device /dev/glimmer-no-such-device";
  for (int run = 0; run < 2; ++run) {
    tools_test::GlimmerProcess glimmer(
        dir, {"show", "--dir", dir.path().string(), "--device", "/dev/glimmer-no-such-device",
              "--silent", "--wait-for-devices", "0"});
    EXPECT_EQ(glimmer.Wait(), 1) << glimmer.Err();
    EXPECT_NE(glimmer.Err().find(missing), std::string::npos) << glimmer.Err();
  }
  EXPECT_NE(fakes::ReadBytes(dir.File("show.log")).find("still missing"), std::string::npos);
  EXPECT_EQ(fakes::ReadBytes(told), "check-failed: " + missing +
                                        " (/dev/glimmer-no-such-device: No such file or "
                                        "directory)\n");
}

// Two shows on one folder both ran: both sent the port-open burst, the one
// without the port played every song without lights, and their log lines
// mixed.
TEST(GlimmerShow, ASecondShowOnTheFolderNamesTheFirstAndTouchesNothingThenAnEmptyPlaylistExitsOne) {
  fakes::TempDir dir;
  const std::string preferences = OpenAllDay("1");
  fakes::WriteBytes(dir.File("preferences.txt"), preferences);
  auto first = platform::TakeShowLock(dir.path().string(), "the player window");
  ASSERT_TRUE(first.ok()) << first.message();
  tools_test::GlimmerProcess glimmer(
      dir, {"show", "--dir", dir.path().string(), "--device", "/dev/glimmer-no-such-device"});
  EXPECT_EQ(glimmer.Wait(), 1);
  EXPECT_NE(
      glimmer.Err().find("A show already runs on the folder " + dir.path().string() + ": process " +
                         std::to_string(getpid()) + " (the player window) holds"),
      std::string::npos)
      << glimmer.Err();
  EXPECT_FALSE(std::filesystem::exists(dir.File("show.log")));
  EXPECT_EQ(fakes::ReadBytes(dir.File("preferences.txt")), preferences);
  EXPECT_EQ(platform::OtherShowOnFolder(dir.path().string()), std::nullopt);  // ours

  // Once the first is gone, the folder is free again: the show runs, and
  // ends by itself on the empty playlist with exit 1, the reason on standard
  // error and in the log.
  first = platform::Result<std::unique_ptr<platform::ShowLock>>::Error("released");
  const fakes::PtyLine pty;
  tools_test::GlimmerProcess again(dir, {"show", "--dir", dir.path().string(), "--device",
                                         pty.Name(), "--wait-for-devices", "0"});
  EXPECT_EQ(again.Wait(), 1);
  EXPECT_NE(again.Err().find(playback::kEmptyPlaylistMessage), std::string::npos) << again.Err();
  EXPECT_NE(fakes::ReadBytes(dir.File("show.log")).find("Show ended: "), std::string::npos);
}

// Looks until `done` holds or the program has ended, waking when it writes to
// the line (a hung program fails the test instead of hanging it).
bool Await(const fakes::PtyLine& line, tools_test::GlimmerProcess& glimmer,
           const std::function<bool()>& done) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (!done()) {
    if (!glimmer.Running() || std::chrono::steady_clock::now() >= end) return done();
    pollfd wrote{line.MasterFd(), POLLIN, 0};
    ::poll(&wrote, 1, 20);
  }
  return true;
}

std::size_t Count(const std::string& text, const std::string& part) {
  std::size_t n = 0;
  for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

// A shutdown while the alert command hangs: the command gets a moment, not
// its whole time limit, is stopped, and the operator is told. The clean stop
// is no crash to the next start, which raises no "restarted".
TEST(GlimmerShow, AHangingAlertCommandHoldsUpTheEndBrieflyAndACleanStopIsNoRestart) {
  fakes::TempDir dir;
  playback_test::Rig rig;  // for its cache writer
  rig.WriteCache(dir.File("A.csq"), {Row(0, 1, 2, 33, 7, 7)});
  fakes::WriteBytes(dir.File("A.wav"), binary::SilentWav(8000, 1, 8000 * 60));
  fakes::WriteBytes(dir.File("playlist.txt"), "\2600.94\r\n" + dir.File("A.wav") + "\r\n" +
                                                  dir.File("A.csq") +
                                                  "\r\nSong A\r\nA.msq\r\n0.94\r\n");
  fakes::WriteBytes(dir.File("preferences.txt"), OpenAllDay("1"));
  // The last run died while it played: this one comes back from a crash.
  fakes::WriteBytes(dir.File("show.log"), "2026-12-24 18:00:00 +0100 Entry 1 started: Song A\n");
  const std::string told = dir.File("told.txt");
  fakes::WriteScript(dir.File("tell"), "echo \"$1\" >> '" + told + "'; exec sleep 1000");
  fakes::WriteBytes(dir.File("settings.toml"),
                    "[alerts]\ncommand = \"" + dir.File("tell") + "\"\n");
  const auto toldText = [&] {
    return std::filesystem::exists(told) ? fakes::ReadBytes(told) : std::string();
  };
  const fakes::PtyLine pty;
  const std::vector<std::string> args{"show",     "--dir",    dir.path().string(),  "--device",
                                      pty.Name(), "--silent", "--wait-for-devices", "0"};

  tools_test::GlimmerProcess first(dir, args);
  ASSERT_TRUE(Await(pty, first, [&] {
    return toldText() == "restarted\n" &&
           Count(fakes::ReadBytes(dir.File("show.log")), "Entry 1 started: Song A") == 2;
  })) << first.Err();
  const auto signalled = std::chrono::steady_clock::now();
  first.Signal(SIGTERM);
  EXPECT_EQ(first.Wait(), 0) << first.Err();
  EXPECT_LT(std::chrono::steady_clock::now() - signalled, watch::kAlertTimeLimit);
  EXPECT_NE(first.Err().find("The alert command for restarted did not end within 2 seconds of "
                             "the show's end and was stopped"),
            std::string::npos)
      << first.Err();
  const std::string log = fakes::ReadBytes(dir.File("show.log"));
  EXPECT_NE(log.find("Alert command for restarted stopped as the show ended"), std::string::npos)
      << log;

  tools_test::GlimmerProcess second(dir, args);
  ASSERT_TRUE(Await(pty, second, [&] {
    return Count(fakes::ReadBytes(dir.File("show.log")), "Entry 1 started: Song A") == 3;
  })) << second.Err();
  second.Signal(SIGINT);
  EXPECT_EQ(second.Wait(), 0) << second.Err();
  EXPECT_EQ(toldText(), "restarted\n");
  EXPECT_EQ(Count(fakes::ReadBytes(dir.File("show.log")), "Alert restarted"), 1u);
}

// A show.lock that is a link is never followed; its message lacked the space
// before "This one does not start." and named no way out.
TEST(GlimmerShow, ALinkedShowLockIsRefusedWithItsFixAndItsTargetUntouched) {
  fakes::TempDir dir;
  const std::string target = dir.File("precious.txt"), lock = dir.File("show.lock");
  fakes::WriteBytes(target, "keep");
  std::filesystem::create_symlink(target, lock);
  const std::string fix = lock +
                          " is a link, and a show's lock is never one: remove the link (rm " +
                          lock + ") and start again.";
  const auto taken = platform::TakeShowLock(dir.path().string(), "glimmer show");
  ASSERT_FALSE(taken.ok());
  EXPECT_EQ(taken.message(), fix);
  tools_test::GlimmerProcess glimmer(dir, {"show", "--dir", dir.path().string()});
  EXPECT_EQ(glimmer.Wait(), 1);
  EXPECT_EQ(glimmer.Err(), "glimmer show: " + fix + " This one does not start.\n");
  EXPECT_EQ(fakes::ReadBytes(target), "keep");
}

// `glimmer show` runs the watchdog's check and the phone page's server at
// the same yields; adding the second must not drop the first, whichever
// way the show yields. A hook may yield itself (a server answering while
// the show waits) or add another; neither runs the hooks over again nor
// loses the new one.
TEST(YieldHooks, EveryHookRunsOnceInOrderAtEachYieldAndWaitEvenIfItYieldsOrAddsOne) {
  glimmer::ConsoleUserInterface ui;
  std::string ran;
  ui.AddYieldHook([&] { ran += "watchdog "; });
  ui.AddYieldHook([&] {
    if (ran == "watchdog ") ui.AddYieldHook([&] { ran += "added "; });
    ran += "page ";
    ui.DoEvents();
  });
  ui.DoEvents();
  ui.WaitForEvents(std::chrono::microseconds(0));
  ui.WaitForEvents(std::chrono::microseconds(1));
  EXPECT_EQ(ran, "watchdog page added watchdog page added watchdog page added ");
}

}  // namespace
