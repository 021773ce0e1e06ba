#include <gtest/gtest.h>

#include <signal.h>

#include "shell/preferences.h"
#include "tests/web/show_fixture.h"

namespace {

using web_test::InState;
using web_test::kShowToken;
using web_test::Logged;
using web_test::PlayingRow;
using web_test::ShowWithPage;

TEST(GlimmerShowPage, EachControlActsOnTheShowOnlyWithTheToken) {
  ShowWithPage show({3.0, 3.0, 3.0});
  ASSERT_TRUE(show.Glimmer().Started());
  const auto playing = show.WaitForStatus([](const auto& s) { return PlayingRow(s, 0); });
  ASSERT_TRUE(PlayingRow(playing, 0)) << playing.dump() << show.Glimmer().Err();
  // The title alone; the archive for the details, by its name only to a
  // client without the token (no folders to strangers).
  EXPECT_EQ(playing["playing"]["title"], "Song A");
  EXPECT_EQ(playing["playing"]["archive"], "A.msq");
  EXPECT_EQ(playing["next"]["title"], "Song B");
  EXPECT_GT(playing["playing"]["remaining"].get<double>(), 0.0);
  EXPECT_GT(playing["playing"]["length"].get<double>(), 2.9);
  EXPECT_EQ(playing["window"]["openNow"], true);

  EXPECT_EQ(show.Call("POST", "/api/stop").first, 401);
  EXPECT_EQ(show.Call("POST", "/api/stop", "not-the-token").first, 401);
  EXPECT_TRUE(InState(show.Call("GET", "/api/status").second, "running"));
  EXPECT_TRUE(Logged(show.Log(), "Phone page: wrong token from 127.0.0.1 for POST /api/stop"))
      << show.Log();

  // Skip cuts Song A.
  ASSERT_EQ(show.Call("POST", "/api/skip", kShowToken).first, 200);
  const auto second = show.WaitForStatus([](const auto& s) { return PlayingRow(s, 1); });
  ASSERT_TRUE(PlayingRow(second, 1)) << second.dump();
  EXPECT_TRUE(Logged(show.Log(), "Skip to the next entry asked (phone page)")) << show.Log();
  EXPECT_TRUE(Logged(show.Log(), "Entry 1 skipped: skipped on request")) << show.Log();
  EXPECT_FALSE(Logged(show.Log(), "Entry 1 finished")) << show.Log();

  // Stop after this song ends the show at Song B's end; Song C never starts.
  auto [status, body] = show.Call("POST", "/api/stop-after-song", kShowToken);
  ASSERT_EQ(status, 200) << body.dump();
  EXPECT_EQ(show.Call("GET", "/api/status").second["stopAfterSong"], true);
  const auto stopped = show.WaitForStatus([](const auto& s) { return InState(s, "stopped"); });
  ASSERT_TRUE(InState(stopped, "stopped")) << stopped.dump();
  EXPECT_EQ(stopped["statusText"], "Show Scheduler Stopped - Click Start To Resume");
  const std::string line = show.Line();
  EXPECT_NE(line.find(show.Message(1)), std::string::npos);
  EXPECT_EQ(line.find(show.Message(2)), std::string::npos);
  EXPECT_TRUE(Logged(show.Log(), "Stop after this song asked (phone page)")) << show.Log();
  EXPECT_TRUE(Logged(show.Log(), "Entry 2 finished")) << show.Log();
  EXPECT_TRUE(Logged(show.Log(), "Show stopped (phone page)")) << show.Log();
  EXPECT_FALSE(Logged(show.Log(), "Entry 3 started: Song C         (/shows/C.msq)")) << show.Log();
  EXPECT_TRUE(Logged(show.Log(), "Entry 2 started: Song B         (/shows/B.msq)")) << show.Log();
  // As the Stop button: the show will not start by itself next time.
  EXPECT_EQ(shell::ParsePreferences(fakes::ReadBytes(show.Dir().File("preferences.txt"))).autostart,
            "0");
  EXPECT_EQ(show.Call("POST", "/api/skip", kShowToken).first, 409);

  // The command waits for the page's Start.
  EXPECT_TRUE(show.Glimmer().Running());
  EXPECT_EQ(show.Call("POST", "/api/start", kShowToken).first, 200);
  const auto again = show.WaitForStatus([](const auto& s) { return PlayingRow(s, 0); });
  EXPECT_TRUE(PlayingRow(again, 0)) << again.dump();
  EXPECT_TRUE(Logged(show.Log(), "Show started (phone page)")) << show.Log();
  EXPECT_EQ(show.Call("POST", "/api/start", kShowToken).first, 409);
  ASSERT_EQ(show.Call("POST", "/api/stop", kShowToken).first, 200);
  const auto stoppedAgain = show.WaitForStatus([](const auto& s) { return InState(s, "stopped"); });
  EXPECT_TRUE(InState(stoppedAgain, "stopped")) << stoppedAgain.dump();
  EXPECT_TRUE(Logged(show.Log(), "Entry 1 stopped")) << show.Log();

  show.Glimmer().Signal(SIGINT);
  EXPECT_EQ(show.Glimmer().Wait(), 0) << show.Glimmer().Err();
  // The address is printed once, first.
  const std::string out = show.Glimmer().Out();
  EXPECT_EQ(out.substr(0, out.find('\n')), "Phone page: " + show.Url());
  EXPECT_EQ(out.find("Phone page:", 1), std::string::npos);
}

TEST(GlimmerShowPage, OutsideItsWindowTheShowIsPausedAndStopAfterSongStopsAtOnce) {
  // A start after the end: the window never opens.
  ShowWithPage show({1.0}, "11:00:00 PM", "1:00:00 AM");
  const auto paused = show.WaitForStatus([](const auto& s) { return InState(s, "paused"); });
  ASSERT_TRUE(InState(paused, "paused")) << paused.dump() << show.Glimmer().Err();
  EXPECT_TRUE(paused["playing"].is_null());
  EXPECT_EQ(paused["next"]["title"], "Song A");
  EXPECT_EQ(paused["window"]["openNow"], false);
  EXPECT_TRUE(paused["window"]["opensInSeconds"].is_null());
  EXPECT_EQ(show.Call("POST", "/api/skip", kShowToken).first, 409);
  ASSERT_EQ(show.Call("POST", "/api/stop-after-song", kShowToken).first, 200);
  const auto stopped = show.WaitForStatus([](const auto& s) { return InState(s, "stopped"); });
  EXPECT_TRUE(InState(stopped, "stopped")) << stopped.dump();
  EXPECT_TRUE(Logged(show.Log(), "Show stopped (phone page)")) << show.Log();
  show.Glimmer().Signal(SIGINT);
  EXPECT_EQ(show.Glimmer().Wait(), 0);
}

}  // namespace
