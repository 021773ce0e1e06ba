// The phone page in a real browser: headless Chromium, phone-sized, driven
// through its DevTools protocol over a pipe, against a running `glimmer show`
// on a pseudo-terminal. Screenshots of each state go to the build folder.
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <ctime>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "tests/fakes/run_program.h"
#include "tests/fakes/skip_outside_ci.h"
#include "tests/web/show_fixture.h"

namespace {

using nlohmann::json;
using web_test::InState;
using web_test::kShowToken;
using web_test::Logged;
using web_test::PlayingRow;
using web_test::ShowWithPage;

// Headless Chromium with one phone-sized tab, spoken to over
// --remote-debugging-pipe: JSON messages ended by a NUL byte, ours on its
// descriptor 3, its answers on 4.
class Browser {
 public:
  explicit Browser(const std::string& program) {
    int toBrowser[2], fromBrowser[2];
    if (::pipe2(toBrowser, O_CLOEXEC) != 0 || ::pipe2(fromBrowser, O_CLOEXEC) != 0) return;
    fakes::ChildOptions options;
    options.outFile = profile_.File("chromium.log");
    options.errToOut = true;
    options.descriptors = {{toBrowser[0], 3}, {fromBrowser[1], 4}};
    browser_ = std::make_unique<fakes::ChildProcess>(
        std::vector<std::string>{
            program, "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic",
            "--no-first-run", "--disable-background-networking", "--disable-component-update",
            "--disable-sync", "--hide-scrollbars", "--user-data-dir=" + profile_.path().string(),
            "--remote-debugging-pipe", "about:blank"},
        options);
    ::close(toBrowser[0]);
    ::close(fromBrowser[1]);
    out_ = toBrowser[1];
    in_ = fromBrowser[0];

    const json target = Send("Target.createTarget", {{"url", "about:blank"}}, false);
    session_ = Send("Target.attachToTarget",
                    {{"targetId", target.value("targetId", "")}, {"flatten", true}}, false)
                   .value("sessionId", "");
    Send("Emulation.setDeviceMetricsOverride",
         {{"width", 390}, {"height", 844}, {"deviceScaleFactor", 2}, {"mobile", true}});
    Send("Page.enable", json::object());
  }
  ~Browser() {
    if (out_ >= 0) ::close(out_);
    if (in_ >= 0) ::close(in_);
  }
  Browser(const Browser&) = delete;
  Browser& operator=(const Browser&) = delete;

  bool Ready() const { return !session_.empty(); }
  std::string Log() const { return fakes::ReadBytes(profile_.File("chromium.log")); }

  // The result of one command; an empty object when it failed or took too
  // long.
  json Send(const std::string& method, const json& params, bool inTab = true) {
    json message{{"id", ++id_}, {"method", method}, {"params", params}};
    if (inTab) message["sessionId"] = session_;
    const std::string bytes = message.dump() + '\0';
    if (::write(out_, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size())) {
      return json::object();
    }
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (std::chrono::steady_clock::now() < end) {
      for (std::size_t nul; (nul = buffer_.find('\0')) != std::string::npos;) {
        const json answer = json::parse(buffer_.substr(0, nul), nullptr, false);
        buffer_.erase(0, nul + 1);
        if (answer.is_object() && answer.value("id", 0) == id_) {
          return answer.contains("result") ? answer["result"] : json::object();
        }
      }
      pollfd p{in_, POLLIN, 0};
      if (::poll(&p, 1, 100) != 1) continue;
      char chunk[65536];
      const ssize_t n = ::read(in_, chunk, sizeof chunk);
      if (n <= 0) return json::object();
      buffer_.append(chunk, static_cast<std::size_t>(n));
    }
    return json::object();
  }

  json Evaluate(const std::string& expression) {
    const json r = Send("Runtime.evaluate", {{"expression", expression}, {"returnByValue", true}});
    return r.contains("result") && r["result"].contains("value") ? r["result"]["value"] : json();
  }

  // Evaluates `expression` until it is true, the show ends or the deadline
  // passes.
  bool WaitFor(const std::string& expression, ShowWithPage& show) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (std::chrono::steady_clock::now() < end && show.Glimmer().Running()) {
      if (Evaluate(expression) == true) return true;
      ::poll(nullptr, 0, 50);
    }
    return false;
  }

  // A press of the finger: the mouse down and up in the middle of `id`.
  void Click(const std::string& id) {
    const json box = Evaluate("(() => { const r = document.getElementById('" + id +
                              "').getBoundingClientRect(); return {x: r.x + r.width / 2, y: r.y "
                              "+ r.height / 2}; })()");
    for (const char* type : {"mousePressed", "mouseReleased"}) {
      Send("Input.dispatchMouseEvent", {{"type", type},
                                        {"x", box.value("x", 0.0)},
                                        {"y", box.value("y", 0.0)},
                                        {"button", "left"},
                                        {"clickCount", 1}});
    }
  }

  // Saves the tab as `name` in the build folder; returns its bytes.
  std::string Screenshot(const std::string& name) {
    const std::string path = std::string(GLIMMER_WEB_SHOTS) + "/" + name;
    const json shot = Send("Page.captureScreenshot", {{"format", "png"}});
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    fakes::WriteBytes(profile_.File("shot.base64"), shot.value("data", ""));
    fakes::WriteBytes(
        path, fakes::RunProgram({"/usr/bin/base64", "-d", profile_.File("shot.base64")}).out);
    return fakes::ReadBytes(path);
  }

 private:
  fakes::TempDir profile_;
  std::unique_ptr<fakes::ChildProcess> browser_;
  int out_ = -1, in_ = -1;
  int id_ = 0;
  std::string session_;
  std::string buffer_;
};

bool IsPng(const std::string& bytes) {
  return bytes.size() > 1000 && bytes.compare(0, 8, "\x89PNG\r\n\x1a\n") == 0;
}

// What only a browser sees: the page's script turning the status into the
// view and its buttons, and the token kept in the browser. What the API
// answers and what a control does to the show are told over the API alone.
std::optional<std::string> Chromium() {
  for (const char* path : {"/usr/bin/chromium", "/usr/bin/chromium-browser"}) {
    if (::access(path, X_OK) == 0) return path;
  }
  return std::nullopt;
}

TEST(PageInBrowser, ShowsTheShowKeepsTheTokenAndItsStopButtonStopsIt) {
  const std::optional<std::string> chromium = Chromium();
  if (!chromium) SKIP_OUTSIDE_CI("no chromium on this machine (Debian package chromium)");
  ShowWithPage show({30.0, 30.0});
  ASSERT_TRUE(PlayingRow(show.WaitForStatus([](const auto& s) { return PlayingRow(s, 0); }), 0))
      << show.Glimmer().Err();
  Browser browser(*chromium);
  ASSERT_TRUE(browser.Ready()) << browser.Log();
  const char* const running =
      "document.getElementById('state').textContent === 'PLAYING' && "
      "document.getElementById('title').textContent === '1. Song A' && "
      "parseFloat(document.getElementById('progress').style.width) > 3";

  // Without a stored token a button asks for it instead of sending anything.
  browser.Send("Page.navigate", {{"url", show.Url()}});
  ASSERT_TRUE(browser.WaitFor(running, show)) << browser.Evaluate("document.body.innerText");
  browser.Click("stop");
  EXPECT_TRUE(browser.WaitFor("!document.getElementById('tokenForm').hidden", show));
  EXPECT_TRUE(InState(show.Call("GET", "/api/status").second, "running"));

  // The token comes with the address once and stays in the browser.
  browser.Send("Page.navigate", {{"url", "about:blank"}});  // a new page, not a new hash
  browser.Send("Page.navigate", {{"url", show.Url() + "#token=" + kShowToken}});
  ASSERT_TRUE(browser.WaitFor(running, show)) << browser.Evaluate("document.body.innerText");
  EXPECT_EQ(browser.Evaluate("document.getElementById('next').textContent"), "2. Song B");
  EXPECT_EQ(browser.Evaluate("localStorage.getItem('glimmerfieldToken')"), kShowToken);
  EXPECT_EQ(browser.Evaluate("location.hash"), "");
  EXPECT_EQ(browser.Evaluate("document.getElementById('start').disabled"), true);
  EXPECT_TRUE(browser.WaitFor(
      "document.getElementById('window').textContent.startsWith('Open now')", show));
  EXPECT_TRUE(IsPng(browser.Screenshot("running.png")));

  browser.Click("stop");
  const json stopped = show.WaitForStatus([](const auto& s) { return InState(s, "stopped"); });
  ASSERT_TRUE(InState(stopped, "stopped")) << stopped.dump();
  EXPECT_TRUE(
      browser.WaitFor("document.getElementById('state').textContent === 'STOPPED' && "
                      "!document.getElementById('start').disabled && "
                      "document.getElementById('skip').disabled",
                      show));
  EXPECT_TRUE(IsPng(browser.Screenshot("stopped.png")));
  EXPECT_TRUE(Logged(show.Log(), "Show stopped (phone page)")) << show.Log();
  show.Glimmer().Signal(SIGINT);
  EXPECT_EQ(show.Glimmer().Wait(), 0);
}

// Twenty alerts of the last hours, as a bad night leaves them, oldest
// first as the log has them; each long enough to wrap on a phone.
std::string TwentyAlerts() {
  std::string log;
  const auto now = std::chrono::system_clock::now();
  for (int i = 20; i >= 1; --i) {
    const std::time_t t = std::chrono::system_clock::to_time_t(now - std::chrono::minutes(i * 50));
    std::tm local{};
    ::localtime_r(&t, &local);
    char stamp[40];
    std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S %z", &local);
    log += std::string(stamp) + " Alert port-lost: Serial port COM1 lost (alert " +
           std::to_string(i) +
           "): write failed: Input/output error; the lights stay dark until it is back\n";
  }
  return log;
}

// What the operator sees without scrolling on a 390x844 phone: every button
// whole, the newest alerts one line each and the rest behind a tap, none of
// the window's texts.
const char* const kFirstScreen = R"JS((() => {
  const whole = (id) => {
    const r = document.getElementById(id).getBoundingClientRect();
    return r.top >= 0 && r.bottom <= innerHeight && r.height >= 40;
  };
  const shown = [...document.querySelectorAll('#alerts li')];
  const text = document.body.innerText;
  return {
    stop: whole('stop'),
    buttons: ['stop', 'skip', 'after', 'start'].every(whole),
    alerts: shown.length,
    count: Number(document.getElementById('alertCount').textContent),
    oneLine: shown.every((li) => li.getBoundingClientRect().height < 28),
    first: shown.length > 0 ? shown[0].textContent : '',
    restHidden: document.getElementById('olderAlerts').hidden,
    windowTexts: /Press Stop|Show Running|Click Start/.test(text),
    archivePath: text.includes('/shows/'),
  };
})())JS";

// The show raises alerts of its own as it goes (a check that finds no sound
// card, the port pulled out): the twenty are the least there are.
void ExpectControlsOnTheFirstScreen(Browser& browser, ShowWithPage& show,
                                    const std::string& state) {
  SCOPED_TRACE(state);
  json screen = browser.Evaluate(kFirstScreen);
  const json items = show.Call("GET", "/api/status").second["health"]["alertItems"];
  ASSERT_TRUE(items.is_array() && items.size() >= 20) << items.dump();
  const std::string first = screen.value("first", "");
  EXPECT_NE(first.find(items[0].value("text", "?")), std::string::npos)
      << first << " is not the newest: " << items[0].dump();
  EXPECT_GE(screen.value("count", 0), 20);
  screen.erase("first");
  screen.erase("count");
  EXPECT_EQ(screen, (json{{"stop", true},
                          {"buttons", true},
                          {"alerts", 3},
                          {"oneLine", true},
                          {"restHidden", true},
                          {"windowTexts", false},
                          {"archivePath", false}}))
      << browser.Evaluate("document.body.innerText");
}

bool PageIn(Browser& browser, ShowWithPage& show, const std::string& state) {
  return browser.WaitFor("document.body.dataset.state === '" + state +
                             "' && Number(document.getElementById('alertCount').textContent) >= 20",
                         show);
}

// Stop is where the thumb finds it in every state the show can be in, with
// a day's alerts below it: playing, stopped, with its port lost, and
// waiting outside its window.
TEST(PageInBrowser, ControlsStayOnTheFirstScreenInEveryStateWithTwentyAlerts) {
  const std::optional<std::string> chromium = Chromium();
  if (!chromium) SKIP_OUTSIDE_CI("no chromium on this machine (Debian package chromium)");
  ShowWithPage show({60.0, 60.0}, "12:00:00 AM", "11:59:59 PM", TwentyAlerts());
  ASSERT_TRUE(PlayingRow(show.WaitForStatus([](const auto& s) { return PlayingRow(s, 0); }), 0))
      << show.Glimmer().Err();
  Browser browser(*chromium);
  ASSERT_TRUE(browser.Ready()) << browser.Log();
  browser.Send("Page.navigate", {{"url", show.Url() + "#token=" + kShowToken}});

  ASSERT_TRUE(PageIn(browser, show, "running")) << browser.Evaluate("document.body.innerText");
  EXPECT_TRUE(
      browser.WaitFor("document.getElementById('title').textContent === '1. Song A'", show));
  EXPECT_TRUE(browser.WaitFor("/ left$/.test(document.getElementById('left').textContent)", show));
  ExpectControlsOnTheFirstScreen(browser, show, "playing");
  EXPECT_TRUE(IsPng(browser.Screenshot("playing.png")));
  // The rest of the alerts behind one tap, newest first.
  browser.Click("moreAlerts");
  EXPECT_TRUE(
      browser.WaitFor("!document.getElementById('olderAlerts').hidden && "
                      "document.querySelectorAll('#olderAlerts li').length === "
                      "Number(document.getElementById('alertCount').textContent) - 3",
                      show));
  EXPECT_EQ(browser.Evaluate("document.querySelector('#olderAlerts li:last-child').textContent"
                             ".includes('(alert 20)')"),
            true);
  // Its button now sits below the fold: folded by script, back at the top.
  browser.Evaluate("document.getElementById('moreAlerts').click(); scrollTo(0, 0)");
  EXPECT_TRUE(browser.WaitFor("document.getElementById('olderAlerts').hidden", show));

  ASSERT_EQ(show.Call("POST", "/api/stop", kShowToken).first, 200);
  ASSERT_TRUE(PageIn(browser, show, "stopped")) << browser.Evaluate("document.body.innerText");
  ExpectControlsOnTheFirstScreen(browser, show, "stopped");
  EXPECT_TRUE(IsPng(browser.Screenshot("stopped.png")));

  // Pulled out while it plays: said first, above everything else.
  ASSERT_EQ(show.Call("POST", "/api/start", kShowToken).first, 200);
  ASSERT_TRUE(PlayingRow(show.WaitForStatus([](const auto& s) { return PlayingRow(s, 0); }), 0));
  show.UnplugLine();
  ASSERT_TRUE(browser.WaitFor("document.body.dataset.port === 'lost'", show))
      << browser.Evaluate("document.body.innerText");
  EXPECT_EQ(browser.Evaluate("(() => { const lost = document.getElementById('portLost'); "
                             "return !lost.hidden && lost.getBoundingClientRect().top < "
                             "document.getElementById('state').getBoundingClientRect().top && "
                             "lost.textContent.includes(' is lost'); })()"),
            true)
      << browser.Evaluate("document.body.innerText");
  ExpectControlsOnTheFirstScreen(browser, show, "port lost");
  EXPECT_TRUE(IsPng(browser.Screenshot("port-lost.png")));
  show.Glimmer().Signal(SIGINT);
  EXPECT_EQ(show.Glimmer().Wait(), 0);

  // A window that opens in two hours (one that never opens where that is
  // past midnight): the show waits.
  std::time_t t = std::time(nullptr);
  std::tm local{};
  ::localtime_r(&t, &local);
  const auto clock = [](int hour) {
    return std::to_string((hour + 11) % 12 + 1) + ":00:00 " + (hour < 12 ? "AM" : "PM");
  };
  ShowWithPage waiting({60.0}, clock((local.tm_hour + 2) % 24), clock((local.tm_hour + 3) % 24),
                       TwentyAlerts());
  browser.Send("Page.navigate", {{"url", "about:blank"}});
  browser.Send("Page.navigate", {{"url", waiting.Url()}});
  ASSERT_TRUE(PageIn(browser, waiting, "paused")) << browser.Evaluate("document.body.innerText");
  ExpectControlsOnTheFirstScreen(browser, waiting, "waiting");
  EXPECT_TRUE(IsPng(browser.Screenshot("waiting.png")));
  waiting.Glimmer().Signal(SIGINT);
  EXPECT_EQ(waiting.Glimmer().Wait(), 0);
}

}  // namespace
