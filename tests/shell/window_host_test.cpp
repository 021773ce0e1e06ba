// What the window renders of the host's state: the keep-alive box, the next
// show, and the phone page switched on while it runs.
#include <QLabel>
#include <QLineEdit>
#include <string>

#include "shell/colour_code.h"
#include "shell/elided_label.h"
#include "tests/calendar/time_zone.h"
#include "tests/shell/window_fixture.h"
#include "tests/web/http_client.h"

namespace shelltest {
namespace {

class WindowHostTest : public WindowTest {
 protected:
  std::string NoticeLine() const {
    return Child<shell::ElidedLabel>("lblNotice").FullText().toStdString();
  }
  calendar_test::ScopedTimeZone zone{"UTC"};
};

// The box stayed green with the last gap while nothing reached the
// controllers any more.
TEST_F(WindowHostTest, TheKeepAliveBoxIsGreenOnlyWhileTheControllersHearTheShow) {
  WritePreferences(kDefaultPreferences);  // 5:30 PM to 11:00 PM
  OneEntryPlaylist({playback_test::Level(20000, 1)}, 3.0);
  clock.SetTimeOfDay(22, 59, 58);  // the song ends after the window has closed
  Start();
  std::uint32_t whilePlaying = 0, whilePaused = 0;
  auto play = audio.onPoll;
  audio.onPoll = [&](fakes::FakeAudioPlayer& a) {
    play(a);
    if (a.polls == 20) whilePlaying = Colour("Text1");
  };
  ui.onDoEvents = [&](int) {
    if (window->StatusText() == playback::kPausedText && whilePaused == 0) {
      whilePaused = Colour("Text1");
      Button("cmdStop").click();
    }
  };
  Button("cmdShowStart").click();

  EXPECT_EQ(whilePlaying, shell::kGreen);
  EXPECT_EQ(whilePaused, shell::kWindowBackground);
  EXPECT_EQ(Colour("Text1"), shell::kWindowBackground);
  EXPECT_EQ(Colour("Text2"), shell::kWindowBackground);  // nothing came late
}

// Stopped inside the window it said "now" with the seconds; it kept the old
// time after Start Time changed.
TEST_F(WindowHostTest, TheNextShowFollowsTheListsAndNamesTonightsWindowWhileItIsOpen) {
  WritePreferences(kDefaultPreferences);
  clock.SetTimeOfDay(18, 0, 5);  // Thursday 1 January 1970
  Start();
  EXPECT_EQ(NoticeLine(), "Next show: Thu 1 Jan, 5:30 PM, open until 11:00 PM");
  List("cboStartTime").setCurrentText(QStringLiteral("7:00:00 PM"));
  EXPECT_EQ(NoticeLine(), "Next show: Thu 1 Jan, 7:00 PM");
  List("cboEndTime").setCurrentText(QStringLiteral("6:00:00 PM"));
  EXPECT_EQ(NoticeLine(), "");  // a start after the end never opens
}

// `glimmer web --enable` while the window runs: the page comes without a
// restart.
TEST_F(WindowHostTest, APhonePageSwitchedOnWhileTheWindowRunsIsServed) {
  Start();
  EXPECT_EQ(window->PhonePageAddress(), "");
  const int port = web_test::FreePort();
  WriteBytes(dir.File("settings.toml"), "[web]\nlisten = \"127.0.0.1:" + std::to_string(port) +
                                            "\"\ntoken = \"" + std::string(64, 'a') + "\"\n");
  clock.Advance(1000);
  ui.DoEvents();
  const std::string address = "http://127.0.0.1:" + std::to_string(port) + "/";
  EXPECT_EQ(window->PhonePageAddress(), address);
  EXPECT_EQ(Child<QLabel>("lblPhonePage").text().toStdString(), "Phone page: " + address);
  EXPECT_TRUE(Child<QLabel>("lblPhonePage").isVisibleTo(window.get()));

  WriteBytes(dir.File("settings.toml"), "# the page is off again\n");
  clock.Advance(1000);
  ui.DoEvents();
  EXPECT_EQ(window->PhonePageAddress(), "");
  EXPECT_FALSE(Child<QLabel>("lblPhonePage").isVisibleTo(window.get()));
}

}  // namespace
}  // namespace shelltest
