// The real player under a real X server and window manager, driven from
// outside as a person drives it: xdotool clicks Add, types the archive into
// the real file dialog, clicks Start and Stop and closes the window; the
// controller messages are read from the pseudo-terminal that COM1 names.
// A screenshot of every step is kept in the folder the test prints.
#include <poll.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "binary/wav_writer.h"
#include "platform/posix/unique_fd.h"
#include "playback/wire_protocol.h"
#include "playlist/playlist.h"
#include "playlist/playlist_entry.h"
#include "sequence_format/fade_timing.h"
#include "sequence_format/sequence_cache.h"
#include "tests/fakes/pty_line.h"
#include "tests/fakes/rar_writer.h"
#include "tests/fakes/run_program.h"
#include "tests/fakes/sequence_document.h"
#include "tests/fakes/skip_outside_ci.h"
#include "tests/fakes/temp_dir.h"

namespace {

namespace fs = std::filesystem;
using SteadyClock = std::chrono::steady_clock;

constexpr auto kPatience = std::chrono::seconds(30);
// The X server and the window manager start once per test; on a machine
// busy with other builds (the sanitizer repeat) openbox took longer than
// 30 s. Their start is no test of the player: it gets room, and a failure
// says what was waited for and what the program wrote meanwhile.
constexpr auto kStartPatience = std::chrono::minutes(3);
constexpr const char* kStopped = "status: Show Scheduler Stopped - Click Start To Resume";
constexpr const char* kRunning =
    "status: Show Running... Press Stop To Stop The Show And/Or Change Settings";

// Centres of the controls, relative to the window's client area.
constexpr int kAddX = 516, kAddY = 404;
constexpr int kStartX = 123, kStopX = 342, kShowButtonsY = 329;

std::string BinFolder() {
  const char* bin = std::getenv("GLIMMER_BIN");
  return bin != nullptr ? bin : GLIMMER_BUILD_BIN;
}

// A child's standard output and error, both into `file`.
fakes::ChildOptions OutputTo(const std::string& file) {
  fakes::ChildOptions options;
  options.outFile = file;
  options.errToOut = true;
  return options;
}

// Runs a command (xdotool, import, xprop) on the test's display.
fakes::ProgramRun X(std::vector<std::string> argv) {
  argv.insert(argv.begin(), {"/usr/bin/timeout", "20"});
  return fakes::RunProgram(argv);
}

// Checks again each time `wake` has something to read (the pseudo-terminal,
// or a watch on the player's log), and at the latest every 50 ms where
// nothing tells of a change (a window appearing), until `check` holds or
// `patience` runs out.
template <typename Check>
bool Eventually(Check check, std::chrono::milliseconds patience = kPatience, int wake = -1) {
  const auto deadline = SteadyClock::now() + patience;
  for (;;) {
    if (check()) return true;
    if (SteadyClock::now() > deadline) return false;
    // Without `wake`, poll skips the negative descriptor and just waits.
    pollfd p{wake, POLLIN, 0};
    if (::poll(&p, 1, 50) == 1) {
      char events[4096];  // an inotify watch: its events only wake the check
      while (::read(wake, events, sizeof events) > 0) {
      }
    }
  }
}

struct WindowEndToEnd : ::testing::Test {
  void SetUp() override {
    shots_ = GLIMMER_E2E_SHOTS;
    fs::remove_all(shots_);
    fs::create_directories(shots_);
    std::printf("Screenshots of each step: %s\n", shots_.c_str());
    for (const char* tool : {"Xvfb", "openbox", "xdotool", "import", "xprop"}) {
      if (fakes::RunProgram({"/bin/sh", "-c", std::string("command -v ") + tool}).exitCode != 0) {
        SKIP_OUTSIDE_CI(tool << " is missing: scripts/prepare.sh installs it");
      }
    }
    // The X server picks a free display and says which.
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    fakes::ChildOptions xvfb = OutputTo(dir_.File("xvfb.log"));
    xvfb.descriptors = {{ready[1], 3}};
    xserver_ = std::make_unique<fakes::ChildProcess>(
        std::vector<std::string>{"/usr/bin/Xvfb", "-displayfd", "3", "-screen", "0", "1024x768x24",
                                 "-nolisten", "tcp"},
        xvfb);
    ::close(ready[1]);
    platform::UniqueFd readyRead(ready[0]);
    ASSERT_TRUE(xserver_->Started());
    std::string number;
    std::printf("Waiting for Xvfb to name its display (up to %lld s)\n",
                static_cast<long long>(kStartPatience.count() * 60));
    ASSERT_TRUE(Eventually(
                    [&] {
                      char c = 0;
                      pollfd p{readyRead.get(), POLLIN, 0};
                      while (::poll(&p, 1, 0) == 1 && ::read(readyRead.get(), &c, 1) == 1 &&
                             c != '\n') {
                        number += c;
                      }
                      return c == '\n' || !xserver_->Running();
                    },
                    kStartPatience) &&
                xserver_->Running())
        << "Xvfb did not name its display; it wrote:\n"
        << fakes::ReadBytes(dir_.File("xvfb.log"));
    ::setenv("DISPLAY", (":" + number).c_str(), 1);
    windowManager_ = std::make_unique<fakes::ChildProcess>(
        std::vector<std::string>{"/usr/bin/openbox"}, OutputTo(dir_.File("openbox.log")));
    std::printf(
        "Waiting for openbox to mark the root window of :%s as managed "
        "(_NET_SUPPORTING_WM_CHECK, up to %lld s)\n",
        number.c_str(), static_cast<long long>(kStartPatience.count() * 60));
    std::fflush(stdout);
    const auto started = SteadyClock::now();
    const bool managed = Eventually(
        [&] {
          return !windowManager_->Running() ||
                 X({"xprop", "-root", "_NET_SUPPORTING_WM_CHECK"}).out.find("window id") !=
                     std::string::npos;
        },
        kStartPatience);
    ASSERT_TRUE(managed && windowManager_->Running())
        << "openbox did not mark the root window of :" << number << " as managed ("
        << (windowManager_->Running() ? "still running" : "it ended") << " after "
        << std::chrono::duration_cast<std::chrono::seconds>(SteadyClock::now() - started).count()
        << " s); it wrote:\n"
        << fakes::ReadBytes(dir_.File("openbox.log"));
    std::printf("openbox manages :%s after %lld ms\n", number.c_str(),
                static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                           SteadyClock::now() - started)
                                           .count()));
  }

  void Shot(const std::string& name) {
    const auto run = X({"import", "-window", "root", shots_ + "/" + name + ".png"});
    EXPECT_EQ(run.exitCode, 0) << "screenshot " << name << ": " << run.err;
  }

  std::string Log() const { return fakes::ReadBytes(dir_.File("player.log")); }
  // Waits for the log to hold `text` as a line of its own.
  bool LogShows(const std::string& text) {
    return Eventually([&] { return Log().find(text + "\n") != std::string::npos; }, kPatience,
                      logWatch_.get());
  }

  // The event messages in what the line carried, in order.
  static std::vector<std::string> EventMessages(const std::string& line) {
    std::vector<std::string> events;
    playback::MessageFramer framer;
    for (playback::WireFrame& frame : framer.Feed(line)) {
      if (!frame.isMessage) return events;  // not framed: let the test fail
      if (!playback::IsFixedMessage(frame.bytes)) events.push_back(std::move(frame.bytes));
    }
    return events;
  }

  fakes::TempDir dir_;
  platform::UniqueFd logWatch_;
  std::string shots_;
  std::unique_ptr<fakes::ChildProcess> xserver_, windowManager_;
};

TEST_F(WindowEndToEnd, ImportStartStopAndCloseAsAPersonWould) {
  // ---- the player's folder, a sequence archive, COM1 on a pseudo-terminal ----
  const std::string app = dir_.File("player"), shows = dir_.File("shows");
  fs::create_directories(app + "/dosdevices");
  fs::create_directories(shows);
  for (const char* program : {"glimmerfield", "glimmer-extract"}) {
    fs::copy_file(BinFolder() + "/" + program, app + "/" + program);
  }
  const std::string audio = shows + "/carol.wav", archive = shows + "/Carol.msq";
  fakes::WriteBytes(audio, binary::SilentWav(44100, 1, 110250));  // 2.5 s
  fakes::Sequence sequence;
  sequence.filePath = audio;
  sequence.controllers = {
      {"2",
       {{"1", {{"17640", "3", "10", "10"}, {"52920", "3", "20", "20"}, {"141120", "3", "0", "0"}}},
        {"3", {{"35280", "1", "0", "255"}, {"123480", "3", "255", "255"}}},
        {"10", {{"88200", "3", "30", "30"}}}}}};
  fakes::WriteRar4(archive, {{"Carol", fakes::ToXml(sequence)}});
  // A show window of the whole day, so Start plays at once.
  const std::string preferences =
      "1\r\n115200\r\n5\r\n12:00:00 AM\r\n11:59:59 PM\r\n0\r\n" + shows + "/\r\n";
  fakes::WriteBytes(app + "/preferences.txt", preferences);
  // Spectrum registered in Wine's registry, so start-up shows no notice.
  fs::create_directories(dir_.File("wine"));
  fakes::WriteBytes(dir_.File("wine/system.reg"),
                    "WINE REGISTRY Version 2\n;; All keys relative to \\\\Machine\n\n"
                    "[Software\\\\Classes\\\\Applications\\\\SpectrumSequencer.exe\\\\shell] "
                    "1614271261\n\"FriendlyCache\"=\"Spectrum Sequencer\"\n");
  // The line stays up between opens; what arrives is taken at once.
  fakes::PtyLine linePty;
  fs::create_symlink(linePty.Name(), app + "/dosdevices/com1");

  // ---- start the player ----
  // This test runs in a process of its own: the player's environment and
  // working folder are set here and handed down.
  fs::create_directories(dir_.File("home"));
  ::setenv("QT_QPA_PLATFORM", "xcb", 1);
  ::setenv("HOME", dir_.File("home").c_str(), 1);
  ::setenv("WINEPREFIX", dir_.File("wine").c_str(), 1);
  ::setenv("QT_LOGGING_RULES", "glimmerfield.status.debug=true", 1);
  // Under the sanitizers: what Qt and the X libraries keep to the end is not
  // ours to find.
  const char* asan = std::getenv("ASAN_OPTIONS");
  ::setenv("ASAN_OPTIONS", (std::string(asan ? asan : "") + ":detect_leaks=0").c_str(), 1);
  fs::current_path(app);
  fakes::ChildProcess player({app + "/glimmerfield"}, OutputTo(dir_.File("player.log")));
  ASSERT_TRUE(player.Started());
  logWatch_.Reset(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC));
  ::inotify_add_watch(logWatch_.get(), dir_.File("player.log").c_str(), IN_MODIFY);
  const auto found = X({"xdotool", "search", "--sync", "--onlyvisible", "--name",
                        "^Glimmerfield Player \\(version 0\\.94\\)$"});
  ASSERT_EQ(found.exitCode, 0) << "no window: " << Log();
  const std::string window = found.out.substr(0, found.out.find('\n'));
  ASSERT_TRUE(LogShows(kStopped)) << Log();
  Shot("1-started");

  // ---- Add: the real file dialog, the archive typed in ----
  X({"xdotool", "mousemove", "--window", window, std::to_string(kAddX), std::to_string(kAddY),
     "click", "1"});
  const auto dialogFound =
      X({"xdotool", "search", "--sync", "--onlyvisible", "--name", "^Add Sequence To Playlist$"});
  ASSERT_EQ(dialogFound.exitCode, 0) << "no file dialog";
  const std::string dialog = dialogFound.out.substr(0, dialogFound.out.find('\n'));
  X({"xdotool", "windowactivate", "--sync", dialog, "type", "--delay", "5", archive});
  Shot("2-file-dialog");
  // A completer popup may take the first Enter; the dialog closes on the next.
  ASSERT_TRUE(Eventually(
      [&] {
        X({"xdotool", "key", "--window", dialog, "Return"});
        return Eventually(
            [&] {
              return X({"xdotool", "search", "--onlyvisible", "--name",
                        "^Add Sequence To Playlist$"})
                         .exitCode != 0;
            },
            std::chrono::seconds(2));
      },
      std::chrono::seconds(10)))
      << "the file dialog stayed open";
  ASSERT_TRUE(LogShows("status: Ready")) << Log();
  Shot("3-imported");

  const playlist::PlaylistEntry entry{audio, app + "/Cache/Carol.csq",
                                      "Carol - Choir         (" + archive + ")",
                                      playlist::kProgramVersion, archive};
  EXPECT_EQ(fakes::ReadBytes(app + "/playlist.txt"), playlist::FormatPlaylistFile({&entry}));

  // ---- Start: the show plays the entry into COM1 ----
  const std::string expectedCache = dir_.File("expected.csq");
  const auto compiled =
      fakes::RunProgram({BinFolder() + "/glimmer", "compile", "--bitmask", archive, expectedCache});
  ASSERT_EQ(compiled.exitCode, 0) << compiled.err;
  auto table = sequence_format::LoadSequenceCache(expectedCache);
  ASSERT_TRUE(table) << table.message();
  std::vector<std::string> expected;
  for (const auto& row : table.value().Records()) {
    std::string bytes;
    playback::EncodeEvent(row, 2 * playback::kSamplesPerSecond + 44100,
                          sequence_format::kFadeTimingTable, bytes);
    if (!bytes.empty()) expected.push_back(bytes);
  }
  ASSERT_EQ(expected.size(), 6u);
  EXPECT_EQ(expected[0], std::string("\x00\x02\x33\x0A\x01\x00", 6));

  X({"xdotool", "mousemove", "--window", window, std::to_string(kStartX),
     std::to_string(kShowButtonsY), "click", "1"});
  ASSERT_TRUE(LogShows(kRunning)) << Log();
  std::string line;  // what the line has carried so far
  ASSERT_TRUE(Eventually([&] {
    line = linePty.Received();
    return EventMessages(line).size() >= expected.size();
  })) << "bytes so far: "
      << line.size();
  Shot("4-running");
  const std::vector<std::string> arrived = EventMessages(line);
  EXPECT_EQ(std::vector<std::string>(arrived.begin(), arrived.begin() + expected.size()), expected);
  EXPECT_EQ(line.substr(0, 33), [] {
    std::string opening;
    for (int i = 0; i < 8; ++i) opening += playback::kPortOpenBurst;
    return opening + std::string(1, '\0');
  }()) << "the line starts with the port-open burst";

  // ---- Stop, then close the window ----
  X({"xdotool", "mousemove", "--window", window, std::to_string(kStopX),
     std::to_string(kShowButtonsY), "click", "1"});
  ASSERT_TRUE(Eventually(
      [&] {
        const std::string log = Log();
        return log.find(kStopped, log.find(kRunning)) != std::string::npos;
      },
      kPatience, logWatch_.get()))
      << Log();
  Shot("5-stopped");
  X({"xdotool", "windowactivate", "--sync", window, "key", "--clearmodifiers", "alt+F4"});
  EXPECT_TRUE(Eventually([&] { return !player.Running(); }, std::chrono::seconds(15))) << Log();
  EXPECT_EQ(player.Wait(), 0) << Log();
  Shot("6-closed");

  // ---- what the player left behind, byte for byte ----
  EXPECT_EQ(fakes::ReadBytes(app + "/preferences.txt"), preferences);
  EXPECT_EQ(fakes::ReadBytes(app + "/playlist.txt"), playlist::FormatPlaylistFile({&entry}));
  EXPECT_EQ(fakes::ReadBytes(entry.CachePath), fakes::ReadBytes(expectedCache));
  EXPECT_FALSE(fs::exists(app + "/Temp/Carol")) << "the extracted document stays behind";
}

}  // namespace
