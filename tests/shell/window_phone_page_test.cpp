#include <QApplication>
#include <QImage>
#include <QLabel>
#include <QPlainTextEdit>
#include <string>

#include "tests/shell/window_fixture.h"
#include "tests/web/http_client.h"

namespace shelltest {
namespace {

using web_test::BodyOf;
using web_test::FreePort;
using web_test::HttpClient;
using web_test::StatusOf;

constexpr const char* kToken = "5eed5eed5eed5eed5eed5eed5eed5eed5eed5eed5eed5eed5eed5eed5eed5eed";

class WindowPhonePageTest : public WindowTest {
 protected:
  void EnablePage() {
    port_ = FreePort();
    WriteBytes(dir.File("settings.toml"), "[web]\nlisten = \"127.0.0.1:" + std::to_string(port_) +
                                              "\"\ntoken = \"" + kToken + "\"\n");
  }

  // One request over the loopback; the window's events run between the
  // client's looks at its socket, as they would for a phone.
  std::string Ask(const std::string& method, const std::string& path,
                  const std::string& authorization = "") {
    HttpClient client(port_, [] { QCoreApplication::processEvents(); });
    std::string request = method + " " + path +
                          " HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port_) +
                          "\r\nConnection: close\r\n";
    if (!authorization.empty()) request += "Authorization: " + authorization + "\r\n";
    if (method == "POST") request += "Content-Length: 0\r\n";
    client.Send(request + "\r\n");
    return client.ReceiveResponse();
  }

  std::string Log() const { return ReadBytes(dir.File("show.log")); }

  int port_ = 0;
};

TEST_F(WindowPhonePageTest, WithoutTheWebTableThereIsNoPageAndAMistakeIsTold) {
  Start();
  EXPECT_EQ(window->PhonePageAddress(), "");
  EXPECT_FALSE(Child<QLabel>("lblPhonePage").isVisibleTo(window.get()));
  WriteBytes(dir.File("settings.toml"), "[web]\nlisten = \"somewhere\"\n");
  Start();
  EXPECT_EQ(window->PhonePageAddress(), "");
  EXPECT_NE(Log().find("Phone page off: "), std::string::npos) << Log();
}

TEST_F(WindowPhonePageTest, ShowsTheAddressAndItsStartAndStopActOnTheWindowsShow) {
  OneEntryPlaylist({playback_test::Level(20000, 1)}, 600.0);  // as long as the test lets it
  EnablePage();
  Start();
  const std::string address = "http://127.0.0.1:" + std::to_string(port_) + "/";
  EXPECT_EQ(window->PhonePageAddress(), address);
  const QLabel& label = Child<QLabel>("lblPhonePage");
  EXPECT_TRUE(label.isVisibleTo(window.get()));
  EXPECT_EQ(label.text().toStdString(), "Phone page: " + address);
  EXPECT_NE(Log().find(" Phone page on " + address), std::string::npos);
  const std::string before = BodyOf(Ask("GET", "/api/status"));
  EXPECT_NE(before.find("\"state\":\"stopped\""), std::string::npos) << before;
  EXPECT_NE(before.find("\"health\":{\"alertItems\":[],\"alerts\":[]"), std::string::npos)
      << before;
  EXPECT_NE(before.find("\"line\":null"), std::string::npos) << before;
  const std::string bearer = std::string("Bearer ") + kToken;

  std::string statusWhilePlaying, startAgain, refused, stopped;
  int yields = 0;
  ui.onDoEvents = [&](int) {
    ++yields;
    if (audio.polls >= 5 && statusWhilePlaying.empty()) {
      statusWhilePlaying = Ask("GET", "/api/status");
      startAgain = Ask("POST", "/api/start", bearer);
      refused = Ask("POST", "/api/stop", "Bearer not-the-token");
    } else if (audio.polls >= 8 && !statusWhilePlaying.empty() && stopped.empty()) {
      stopped = Ask("POST", "/api/stop", bearer);
    } else if (yields > 2000 && window->ShowRunning()) {
      Button("cmdStop").click();  // never reached when the page's Stop works
    }
  };
  // Nor is this: a show that waited instead of playing ends too.
  int waits = 0;
  ui.onWait = [&](std::chrono::microseconds) {
    if (++waits > 2000 && window->ShowRunning()) Button("cmdStop").click();
  };

  // The show starts from the window's loop once the answer is on its way,
  // and runs (as a click on Start would) until the page stops it. The answer
  // tells the state the start leads to: inside the window, running.
  const std::string started = Ask("POST", "/api/start", bearer);
  ASSERT_EQ(StatusOf(started), 200) << started;
  EXPECT_NE(BodyOf(started).find("\"state\":\"running\""), std::string::npos) << started;
  QCoreApplication::processEvents();

  EXPECT_NE(BodyOf(statusWhilePlaying).find("\"state\":\"running\""), std::string::npos)
      << statusWhilePlaying << "|" << Log();
  EXPECT_NE(BodyOf(statusWhilePlaying).find("\"title\":\"Carol\""), std::string::npos);
  EXPECT_EQ(StatusOf(startAgain), 409);
  EXPECT_EQ(StatusOf(refused), 401);
  ASSERT_EQ(StatusOf(stopped), 200) << stopped;
  EXPECT_FALSE(window->ShowRunning());
  EXPECT_LT(yields, 2000) << Log();
  EXPECT_LE(waits, 2000);
  EXPECT_EQ(PreferencesLine(6), "0");
  const std::string log = Log();
  EXPECT_NE(log.find(" Show started (phone page)\n"), std::string::npos) << log;
  EXPECT_NE(log.find(" Phone page: wrong token from 127.0.0.1 for POST /api/stop"),
            std::string::npos)
      << log;
  EXPECT_NE(log.find(" Show stopped (phone page)\n"), std::string::npos) << log;
  EXPECT_NE(BodyOf(Ask("GET", "/api/status")).find("\"state\":\"stopped\""), std::string::npos);
}

// An import holds the window (Start is greyed out): the page's Start is
// refused, saying why, and no show starts behind the import's back.
TEST_F(WindowPhonePageTest, ThePagesStartIsRefusedWhileAnImportRuns) {
  OneEntryPlaylist({playback_test::Level(20000, 1)}, 1.0);
  EnablePage();
  Start();
  window->SetBusyState();

  const std::string refused = Ask("POST", "/api/start", std::string("Bearer ") + kToken);
  QCoreApplication::processEvents();

  EXPECT_EQ(StatusOf(refused), 409) << refused;
  EXPECT_NE(BodyOf(refused).find("the player is busy (an import runs)"), std::string::npos)
      << refused;
  EXPECT_FALSE(window->ShowRunning());
  EXPECT_EQ(Log().find("Show started"), std::string::npos) << Log();
}

// The Phone Page button opens the link with its code, painted as modules a
// camera reads: the quiet zone light, the finder's corner dark; with the
// page off, how to turn it on and no code.
TEST_F(WindowPhonePageTest, ThePhonePageButtonShowsTheReadyLinkAsAQrCode) {
  EnablePage();
  Start();
  Button("cmdPhonePage").click();
  auto* dialog = window->findChild<QWidget*>(QStringLiteral("frmPhonePage"));
  ASSERT_NE(dialog, nullptr);
  EXPECT_TRUE(dialog->isVisible());
  const std::string link = "http://127.0.0.1:" + std::to_string(port_) + "/#token=" + kToken;
  auto* text = dialog->findChild<QPlainTextEdit*>(QStringLiteral("txtPhonePageLink"));
  ASSERT_NE(text, nullptr);
  EXPECT_EQ(text->toPlainText().toStdString(), link);
  auto* code = dialog->findChild<QWidget*>(QStringLiteral("qrPhonePage"));
  ASSERT_NE(code, nullptr);
  ASSERT_TRUE(code->isVisible());
  const QImage picture = code->grab().toImage();
  const int module = 5;  // pixels
  EXPECT_EQ(picture.pixelColor(module / 2, module / 2), QColor(Qt::white));
  EXPECT_EQ(picture.pixelColor(4 * module + 2, 4 * module + 2), QColor(Qt::black));
  // A finder pattern is 7 modules with a light ring inside.
  EXPECT_EQ(picture.pixelColor(5 * module + 2, 5 * module + 2), QColor(Qt::white));

  WriteBytes(dir.File("settings.toml"), "");
  clock.Advance(1000);
  window->Presenter().Tick();
  EXPECT_FALSE(code->isVisible());
  EXPECT_FALSE(text->isVisible());
  const auto* note = dialog->findChild<QLabel*>(QStringLiteral("lblPhonePageNote"));
  ASSERT_NE(note, nullptr);
  EXPECT_TRUE(note->text().contains(QStringLiteral("glimmer web --enable")));
}

}  // namespace
}  // namespace shelltest
