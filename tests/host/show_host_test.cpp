#include "host/show_host.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "playback/show_scheduler.h"
#include "tests/fakes/special_files.h"
#include "tests/fakes/temp_dir.h"
#include "tests/playback/playback_rig.h"
#include "tests/web/http_client.h"

namespace {

using playback::Origin;

// The host over the playback rig's fakes; the rig's window is the front end
// (settings, playlist and view) and its log keeps show.log's events. The
// show's daily window is 5:30 PM to 11 PM and it is 10 AM: a show waits.
struct HostRig : playback_test::Rig {
  HostRig() {
    window.startTime = "5:30:00 PM";
    window.endTime = "11:00:00 PM";
    AddEntry("a", {playback_test::Level(2000, 1)});
  }
  host::ShowHost& Host() {
    if (!host) {
      host = std::make_unique<host::ShowHost>(
          host::ShowHostOptions{.dir = dir.path().string(),
                                .port = port,
                                .audio = audio,
                                .ui = ui,
                                .clock = clock,
                                .settings = window,
                                .playlist = window,
                                .view = window,
                                .logFile = &log,
                                .now = [this] { return now; },
                                .canStart = [this] { return canStart; },
                                .startAsked = [this] { ++startsAsked; },
                                .notice = [this](const std::string& text) { said.push_back(text); },
                                .otherShow = [this] { return otherShow; }});
      ui.AddYieldHook([this] { host->Poll(); });
    }
    return *host;
  }
  // Runs `during` at the n-th yield of the show.
  void At(int yield, std::function<void()> during) {
    ui.onDoEvents = [yield, during = std::move(during)](int n) {
      if (n == yield) during();
    };
  }

  playback_test::MemoryLog log{window.logged};
  // Another process holding the folder's show.lock, as it is named.
  std::optional<std::string> otherShow;
  // The date and time of each line the show logs.
  std::string now = "-";
  platform::Status canStart = platform::Status::Ok();
  int startsAsked = 0;
  std::vector<std::string> said;
  std::unique_ptr<host::ShowHost> host;
};

// The engine names no front end: each command carries the name its origin
// gives, and the log says it as it always did.
TEST(ShowHost, EachCommandIsLoggedWithTheNameItsOriginGives) {
  struct Case {
    const char* startedBy;
    const char* stoppedBy;
  };
  const Case cases[] = {{"Start button", "Stop button"},
                        {"autostart", "window closed"},
                        {"glimmer show", "SIGINT, as the Stop button"},
                        {"phone page", "phone page"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.startedBy);
    HostRig rig;
    host::ShowHost& host = rig.Host();
    platform::Status stopped = platform::Status::Error("never asked");
    rig.At(3, [&] { stopped = host.Stop({c.stoppedBy}); });
    EXPECT_TRUE(host.Start({c.startedBy}));
    EXPECT_TRUE(stopped) << stopped.message();
    EXPECT_EQ(rig.window.LoggedWith("Show st"),
              (std::vector<std::string>{std::string("Show started (") + c.startedBy + ")",
                                        std::string("Show stopped (") + c.stoppedBy + ")"}));
    EXPECT_FALSE(host.ShowRunning());
  }
}

// What a front end may not ask now is refused with the reason the page shows
// (409) and the window would say, and changes nothing.
TEST(ShowHost, CommandsThatDoNotFitTheMomentAreRefusedWithTheirReason) {
  HostRig rig;
  host::ShowHost& host = rig.Host();
  EXPECT_EQ(host.Stop({"phone page"}).message(), "the show is not running");
  EXPECT_EQ(host.StopAfterSong({"phone page"}).message(), "the show is not running");
  EXPECT_EQ(host.Skip({"phone page"}).message(), "nothing is playing");

  rig.canStart = platform::Status::Error("the player is busy (an import runs)");
  EXPECT_EQ(host.AskStart({"phone page"}).message(), "the player is busy (an import runs)");
  rig.canStart = platform::Status::Ok();

  // Asked from afar, the Start waits for the front end's loop.
  EXPECT_TRUE(host.AskStart({"phone page"}));
  EXPECT_EQ(rig.startsAsked, 1);
  EXPECT_TRUE(host.StartIsAsked());
  EXPECT_EQ(host.AskStart({"phone page"}).message(), "the show is already starting");
  EXPECT_TRUE(rig.window.LoggedWith("Show started").empty());

  std::vector<std::string> whileWaiting;
  rig.At(3, [&] {
    whileWaiting = {host.AskStart({"phone page"}).message(), host.Skip({"phone page"}).message()};
    // Waiting for its window, nothing plays whose end could be waited for.
    EXPECT_TRUE(host.StopAfterSong({"phone page"}));
  });
  host.RunAskedStart();
  EXPECT_EQ(whileWaiting,
            (std::vector<std::string>{"the show is already running", "nothing is playing"}));
  EXPECT_EQ(rig.window.LoggedWith("Show st"),
            (std::vector<std::string>{"Show started (phone page)", "Show stopped (phone page)"}));
  EXPECT_FALSE(host.StartIsAsked());
  host.RunAskedStart();  // none asked: nothing runs
  EXPECT_EQ(rig.window.LoggedWith("Show started").size(), 1u);
}

// The host looks at calendar.toml as the show goes: a show under way keeps
// its nights and says the change waits for the next Start; once stopped the
// file is read again and the front end told.
TEST(ShowHost, ACalendarChangedDuringTheShowIsToldAndReadOnceTheShowHasStopped) {
  HostRig rig;
  host::ShowHost& host = rig.Host();
  int calendarChanges = 0;
  host.onCalendarChanged = [&] { ++calendarChanges; };
  rig.ui.onDoEvents = [&](int n) {
    if (n == 20) {  // well after the show read the calendar at its start
      fakes::WriteBytes(rig.dir.File("calendar.toml"), "[[show]]\nstart = \"6:00 PM\"\n");
    } else if (n == 60) {
      (void)host.Stop({"Stop button"});
    }
  };
  EXPECT_TRUE(host.Start({"Start button"}));
  EXPECT_EQ(rig.said, std::vector<std::string>{
                          "calendar.toml changed: the show takes it up at its next Start"});
  EXPECT_FALSE(host.CalendarInUse());
  EXPECT_EQ(calendarChanges, 0);

  // Stopped, the file already seen is read at the next look or stop.
  host.ReadCalendarAgain();
  EXPECT_TRUE(host.CalendarInUse());
  EXPECT_EQ(host.NextShowLine().rfind("The calendar cannot be used", 0), 0u) << host.NextShowLine();
  fakes::WriteBytes(rig.dir.File("calendar.toml"), "");
  rig.clock.Advance(1000);
  host.Poll();
  EXPECT_EQ(calendarChanges, 1);
}

// settings.toml as a pipe held the show and the window before they began, a
// device read until memory ran out, a folder stopped them with a raw stream
// error, and a link to nothing turned the page off without a word. The host
// starts, says what is wrong with the file where the front end shows its
// notices, and looks at the file again without waiting on it.
TEST(ShowHost, ASettingsFileThatCannotBeReadIsToldAndNeverWaitedOn) {
  std::vector<fakes::SpecialFile> cases = fakes::SpecialFiles();
  cases.push_back({"link to nothing",
                   [](const std::string& at) { std::filesystem::create_symlink(at + ".gone", at); },
                   "it is a link to \""});
  for (const fakes::SpecialFile& special : cases) {
    SCOPED_TRACE(special.name);
    HostRig rig;
    const std::string path = rig.dir.File("settings.toml");
    special.make(path);
    host::ShowHost& host = rig.Host();
    host.ServePhonePage();
    rig.clock.Advance(1000);
    host.Poll();
    ASSERT_EQ(rig.said.size(), 1u) << ::testing::PrintToString(rig.said);
    EXPECT_EQ(
        rig.said[0].rfind(
            "The phone page stays off: \"" + path + "\" cannot be read: " + special.reason, 0),
        0u)
        << rig.said[0];
    EXPECT_EQ(host.PhonePageAddress(), "");
  }
}

// The line's state for the keep-alive box: only a show under way, not
// paused, with its port open, reaches the controllers.
TEST(ShowHost, TheLineIsAliveOnlyWhileAnEntryPlaysOnAnOpenPort) {
  HostRig rig;
  rig.window.startTime = "12:00:00 AM";  // inside now
  rig.window.endTime = "11:59:59 PM";
  host::ShowHost& host = rig.Host();
  std::vector<bool> alive;
  rig.SteadyAudio(20000, 200000, [&](int poll) {
    alive.push_back(host.LineAlive());
    if (poll == 3) (void)host.Stop({"Stop button"});
  });
  EXPECT_FALSE(host.LineAlive());
  EXPECT_TRUE(host.Start({"Start button"}));
  ASSERT_FALSE(alive.empty());
  EXPECT_TRUE(alive.front());
  EXPECT_FALSE(host.LineAlive());
}

// The page's nights are read from the files once, when the page starts, and
// kept from the lines as the show writes them: a request reads no file.
TEST(ShowHost, ThePagesNightsComeFromTheLinesWrittenNotFromTheLogAtEachRequest) {
  HostRig rig;
  rig.window.startTime = "12:00:00 AM";  // inside now
  rig.window.endTime = "11:59:59 PM";
  fakes::WriteBytes(rig.dir.File("show.log.5"), "2026-12-20 18:00:00 Show started (autostart)\n");
  fakes::WriteBytes(rig.dir.File("settings.toml"),
                    "[web]\nlisten = \"127.0.0.1:" + std::to_string(web_test::FreePort()) + "\"\n");
  host::ShowHost& host = rig.Host();
  host.ServePhonePage();
  ASSERT_FALSE(host.PhonePageAddress().empty());
  std::filesystem::remove(rig.dir.File("show.log.5"));

  rig.now = "2026-12-24 18:00:00";
  rig.At(3, [&] { (void)host.Stop({"Stop button"}); });
  EXPECT_TRUE(host.Start({"Start button"}));
  const std::vector<playback::NightSummary> nights = host.PageStatus().Nights(7);
  ASSERT_EQ(nights.size(), 2u);
  EXPECT_EQ(nights[0].date, "2026-12-20");
  EXPECT_EQ(nights[1].date, "2026-12-24");
  EXPECT_EQ(nights[1].shows, 1);
}

std::string PageSettings(const std::string& host, const std::string& token = "") {
  return "[web]\nlisten = \"" + host + ":" + std::to_string(web_test::FreePort()) +
         "\"\ntoken = \"" + token + "\"\n";
}

// Two shows on one folder: only the one that runs the show serves the page,
// and while another runs, a Start from here is refused, never answered ok.
TEST(ShowHost, OnlyTheShowHoldingTheFolderServesThePageAndStarts) {
  HostRig rig;
  fakes::WriteBytes(rig.dir.File("settings.toml"), PageSettings("127.0.0.1", "t0ken"));
  const std::string other =
      "A show already runs on the folder D: process 99 (glimmer show) holds D/show.lock.";
  rig.otherShow = other;
  host::ShowHost& host = rig.Host();
  host.ServePhonePage();
  EXPECT_TRUE(host.PhonePageAddress().empty());
  const std::string off = "The phone page stays off: the other show serves it. " + other;
  EXPECT_EQ(rig.said, std::vector<std::string>{off});
  EXPECT_EQ(host.AskStart({"phone page"}).message(), other + " This one does not start.");
  EXPECT_EQ(rig.startsAsked, 0);
  EXPECT_FALSE(host.Start({"Start button"}));
  EXPECT_TRUE(rig.window.LoggedWith("Show started").empty());
  // Looked at again each second, said once.
  for (int i = 0; i < 3; ++i) {
    rig.clock.Advance(1000);
    host.Poll();
  }
  EXPECT_EQ(rig.said.size(), 1u);

  // The other show has ended: the page is served here.
  rig.otherShow.reset();
  rig.clock.Advance(1000);
  host.Poll();
  EXPECT_FALSE(host.PhonePageAddress().empty());
  EXPECT_TRUE(host.AskStart({"phone page"}));
  rig.At(3, [&] { (void)host.Stop({"Stop button"}); });
  host.RunAskedStart();
  EXPECT_EQ(rig.window.LoggedWith("Show started").size(), 1u);

  // Another starts while this one is stopped: the page goes to it.
  rig.otherShow = other;
  rig.clock.Advance(1000);
  host.Poll();
  EXPECT_TRUE(host.PhonePageAddress().empty());
  EXPECT_EQ(rig.said, (std::vector<std::string>{off, off}));
}

// Beyond the loopback without a token, anyone on the network reads the
// show's status: said and logged each time the page starts to be served.
TEST(ShowHost, ListeningBeyondTheLoopbackWithoutATokenIsWarnedAbout) {
  struct Case {
    const char* host;
    const char* token;
    bool warned;
  };
  for (const Case& c :
       {Case{"0.0.0.0", "", true}, Case{"0.0.0.0", "t0ken", false}, Case{"127.0.0.1", "", false}}) {
    SCOPED_TRACE(std::string(c.host) + " token '" + c.token + "'");
    HostRig rig;
    fakes::WriteBytes(rig.dir.File("settings.toml"), PageSettings(c.host, c.token));
    host::ShowHost& host = rig.Host();
    host.ServePhonePage();
    ASSERT_FALSE(host.PhonePageAddress().empty());
    const std::string warning = std::string("The phone page listens on ") + c.host +
                                " without a token: anyone who can reach this machine sees the "
                                "show's status, and nobody can change it from the page. "
                                "'glimmer web --enable --lan' sets a token.";
    EXPECT_EQ(rig.said, c.warned ? std::vector<std::string>{warning} : std::vector<std::string>{});
    EXPECT_EQ(rig.window.LoggedWith("The phone page listens").size(), c.warned ? 1u : 0u);
  }
}

}  // namespace
