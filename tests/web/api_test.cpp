#include "web/api.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "tests/web/web_fakes.h"

namespace {

using nlohmann::json;
using web::Request;
using web_test::FakeShow;
using web_test::FakeSteadyClock;

constexpr const char* kToken = "0123456789abcdef0123456789abcdef";
const std::string kBearer = std::string("Bearer ") + kToken;

struct ApiRig {
  explicit ApiRig(const char* token = kToken) : token(token) {}
  const char* token;
  FakeShow show;
  FakeSteadyClock clock;
  std::vector<std::string> logged;
  web::Api api{show, show, token, clock.Function(),
               [this](const std::string& line) { logged.push_back(line); }};

  web::Response Ask(const char* method, const std::string& path,
                    const std::string& authorization = "", const std::string& peer = "192.168.1.7",
                    const std::string& host = "") {
    return api.Handle(Request{method, path, {}, authorization, peer, host});
  }
  web::Response Get(const std::string& path, std::map<std::string, std::string> query = {}) {
    return api.Handle(Request{"GET", path, std::move(query), "", "192.168.1.7", ""});
  }
};

TEST(WebApi, EachControlNeedsTheTokenAndCallsTheShowAsThePhonePage) {
  const std::pair<const char*, const char*> controls[] = {
      {"/api/start", "Start by phone page"},
      {"/api/stop", "Stop by phone page"},
      {"/api/stop-after-song", "StopAfterSong by phone page"},
      {"/api/skip", "Skip by phone page"}};
  const std::pair<std::string, int> auths[] = {
      {"", 401},
      {"Bearer wrong", 401},
      {std::string("Bearer ") + kToken + "x", 401},  // the right one as its beginning
      {std::string("Bearer ") + std::string(kToken).substr(1), 401},
      {std::string("Bearer ") + std::string(kToken, 31) + "0", 401},  // the last byte differs
      {std::string("Basic ") + kToken, 401},
      {kToken, 401},
      {std::string("Bearer") + kToken, 401},
      {kBearer + " x", 401},
      {kBearer, 200},
      // The scheme in any case; blanks around the token are no part of it.
      {std::string("bearer ") + kToken, 200},
      {std::string("BEARER ") + kToken, 200},
      {kBearer + " ", 200},
      {std::string("Bearer  ") + kToken + " \t", 200},
  };
  for (const auto& [path, call] : controls) {
    for (const auto& [header, status] : auths) {
      SCOPED_TRACE(std::string(path) + " with '" + header + "'");
      ApiRig rig;  // a fresh one, so no address is slowed yet
      const web::Response r = rig.Ask("POST", path, header);
      EXPECT_EQ(r.status, status) << r.body;
      if (status == 200) {
        EXPECT_EQ(rig.show.calls, std::vector<std::string>{call});
        EXPECT_TRUE(rig.logged.empty());
      } else {
        EXPECT_TRUE(rig.show.calls.empty());
        ASSERT_EQ(rig.logged.size(), 1u);
        EXPECT_NE(rig.logged[0].find("from 192.168.1.7 for POST "), std::string::npos)
            << rig.logged[0];
      }
    }
  }
  // The comparison is of whole tokens, also where no header can carry them:
  // a NUL byte, and two empty tokens.
  EXPECT_TRUE(web::TokensEqual("", ""));
  EXPECT_FALSE(web::TokensEqual("", "a"));
  EXPECT_FALSE(web::TokensEqual(std::string_view("ab\0", 3), "ab"));
}

TEST(WebApi, WithoutATokenInTheSettingsNothingChanges) {
  ApiRig rig("");
  // Not even an empty bearer gets through.
  for (const char* header : {"", "Bearer ", "Bearer x"}) {
    EXPECT_EQ(rig.Ask("POST", "/api/stop", header, "1.2.3.4").status, 403);
  }
  EXPECT_TRUE(rig.show.calls.empty());
}

// Wrong tokens from one address are slowed; the right one always passes, at
// once, and clears the wait: every local user shares 127.0.0.1 and phones
// behind one router share an address.
TEST(WebApi, OnlyWrongTokensAreSlowedTheRightOnePassesAndClearsTheWait) {
  ApiRig rig;
  for (int i = 0; i < 3; ++i) EXPECT_EQ(rig.Ask("POST", "/api/stop", "Bearer guess").status, 401);
  EXPECT_NE(rig.logged.back().find("waits 1 s"), std::string::npos) << rig.logged.back();
  // A wrong one now waits, without being looked at; so does none.
  EXPECT_EQ(rig.Ask("POST", "/api/stop", "Bearer guess").status, 429);
  EXPECT_EQ(rig.Ask("POST", "/api/stop", "").status, 429);
  EXPECT_TRUE(rig.show.calls.empty());
  // The right one passes at once from the same address.
  EXPECT_EQ(rig.Ask("POST", "/api/stop", kBearer).status, 200);
  EXPECT_EQ(rig.show.calls.size(), 1u);
  // ... and the count starts again: two more wrong ones wait for nothing.
  EXPECT_EQ(rig.Ask("POST", "/api/stop", "Bearer guess").status, 401);
  EXPECT_EQ(rig.Ask("POST", "/api/stop", "Bearer guess").status, 401);
  EXPECT_EQ(rig.logged.back().find("waits"), std::string::npos) << rig.logged.back();
  // Another address is not held up.
  EXPECT_EQ(rig.Ask("POST", "/api/stop", "Bearer guess", "192.168.1.8").status, 401);
  EXPECT_EQ(rig.logged.back().find("waits"), std::string::npos) << rig.logged.back();

  EXPECT_EQ(rig.Ask("POST", "/api/stop", "Bearer guess").status, 401);  // the 3rd: 1 s
  rig.clock.now += std::chrono::seconds(1);
  EXPECT_EQ(rig.Ask("POST", "/api/stop", "Bearer guess").status, 401);  // the 4th: 2 s
  EXPECT_NE(rig.logged.back().find("waits 2 s"), std::string::npos) << rig.logged.back();
  rig.clock.now += std::chrono::seconds(1);
  EXPECT_EQ(rig.Ask("POST", "/api/stop", "Bearer guess").status, 429);
  EXPECT_EQ(rig.Ask("POST", "/api/stop", kBearer).status, 200);
  // Reads are never slowed by wrong tokens.
  for (int i = 0; i < 10; ++i) rig.Ask("POST", "/api/stop", "Bearer guess");
  EXPECT_EQ(rig.Get("/api/status").status, 200);
  // The wait grows to its longest and no further.
  for (int i = 0; i < 40; ++i) {
    rig.clock.now += std::chrono::seconds(400);
    EXPECT_EQ(rig.Ask("POST", "/api/stop", "Bearer guess").status, 401);
  }
  EXPECT_NE(rig.logged.back().find("waits 300 s"), std::string::npos) << rig.logged.back();
}

TEST(WebApi, GetNeverChangesAnythingAndControlsAreOnlyPosted) {
  ApiRig rig;
  for (const char* path : {"/api/start", "/api/stop", "/api/stop-after-song", "/api/skip"}) {
    for (const char* method : {"GET", "HEAD", "PUT", "DELETE"}) {
      SCOPED_TRACE(std::string(method) + " " + path);
      EXPECT_EQ(rig.Ask(method, path, kBearer, "1.2.3.4").status, 405);
    }
  }
  for (const char* path : {"/", "/api/status", "/api/nights"}) {
    EXPECT_EQ(rig.Ask("POST", path, kBearer, "1.2.3.4").status, 405) << path;
  }
  EXPECT_TRUE(rig.show.calls.empty());
}

TEST(WebApi, NoPathReachesAFile) {
  ApiRig rig;
  for (const char* path : {"/index.html", "/../settings.toml", "/api/../../etc/passwd",
                           "/settings.toml", "//api/status", "/api/status/", "/api"}) {
    EXPECT_EQ(rig.Get(path).status, 404) << path;
  }
  const web::Response page = rig.Get("/");
  EXPECT_EQ(page.status, 200);
  EXPECT_EQ(page.contentType, "text/html; charset=utf-8");
  // Nothing is fetched from anywhere but the show itself.
  EXPECT_EQ(page.body.find("http:"), std::string::npos);
  EXPECT_EQ(page.body.find("https:"), std::string::npos);
  EXPECT_EQ(page.body.find(" src="), std::string::npos);
}

TEST(WebApi, StatusCarriesTheShowAsItIs) {
  ApiRig rig;
  web::ShowStatus& s = rig.show.status;
  s.state = web::ShowState::Running;
  s.statusText = "Show Running... Press Stop To Stop The Show And/Or Change Settings";
  s.playing = web::PlayingView{{2, "Carol \x96 of the bells"}, 61.5, 180.25};  // Windows-1252 dash
  s.next = web::EntryView{3, "Jingle"};
  s.window = web::WindowView{"5:30:00 PM", "11:00:00 PM", true, std::nullopt, {}};
  s.keepAliveGapSeconds = 1;
  s.lateKeepAlives = 2;
  s.stopAfterSong = true;
  const web::Response r = rig.Get("/api/status");
  ASSERT_EQ(r.status, 200);
  EXPECT_EQ(r.contentType, "application/json");
  // A byte that is not UTF-8 does not cost the answer.
  EXPECT_EQ(json::parse(r.body), (json{{"state", "running"},
                                       {"statusText", s.statusText},
                                       {"notice", ""},
                                       {"playing",
                                        {{"row", 2},
                                         {"title", "Carol \xEF\xBF\xBD of the bells"},
                                         {"archive", ""},
                                         {"position", 61.5},
                                         {"length", 180.25},
                                         {"remaining", nullptr}}},
                                       {"next", {{"row", 3}, {"title", "Jingle"}, {"archive", ""}}},
                                       {"window",
                                        {{"start", "5:30:00 PM"},
                                         {"end", "11:00:00 PM"},
                                         {"openNow", true},
                                         {"opensInSeconds", nullptr},
                                         {"problem", ""},
                                         {"volume", 100},
                                         {"nextOpening", ""}}},
                                       {"keepAlive", {{"lastGapSeconds", 1}, {"lateCount", 2}}},
                                       {"stopAfterSong", true},
                                       {"health", nullptr},
                                       {"line", nullptr},
                                       {"port", nullptr}}));

  s = web::ShowStatus{};
  const json stopped = json::parse(rig.Get("/api/status").body);
  EXPECT_EQ(stopped["state"], "stopped");
  EXPECT_TRUE(stopped["playing"].is_null());
  EXPECT_TRUE(stopped["next"].is_null());
}

TEST(WebApi, HealthAndLineWhereTheShowKnowsThem) {
  ApiRig rig;
  web::ShowStatus& s = rig.show.status;
  s.health = web::HealthView{};
  json j = json::parse(rig.Get("/api/status").body);
  EXPECT_EQ(j["health"], (json{{"lastCheck", nullptr},
                               {"lastCheckResult", nullptr},
                               {"alerts", json::array()},
                               {"alertItems", json::array()}}));

  s.health = web::HealthView{"2026-12-07 17:20:00",
                             "Check before the night: all well",
                             {"2026-12-07 09:00:00 restarted: the show came back"},
                             {{"2026-12-07 09:00:00", "restarted", "the show came back"}}};
  s.line = web::LineHealthView{"1 entry fell visibly behind", false};
  s.port = web::PortView{"COM1", false, true, "write failed: Input/output error"};
  j = json::parse(rig.Get("/api/status").body);
  EXPECT_EQ(j["health"], (json{{"lastCheck", "2026-12-07 17:20:00"},
                               {"lastCheckResult", "Check before the night: all well"},
                               {"alerts", {"2026-12-07 09:00:00 restarted: the show came back"}},
                               {"alertItems",
                                {{{"at", "2026-12-07 09:00:00"},
                                  {"event", "restarted"},
                                  {"text", "the show came back"}}}}}));
  EXPECT_EQ(j["line"], (json{{"ok", false}, {"summary", "1 entry fell visibly behind"}}));
  EXPECT_EQ(j["port"], (json{{"name", "COM1"},
                             {"open", false},
                             {"lost", true},
                             {"reason", "write failed: Input/output error"}}));
}

TEST(WebApi, AnswersOnlyToTheMachinesOwnNames) {
  // What a read and a control get; a control goes through only with 200.
  const auto answer = [](const char* host) {
    ApiRig rig;
    rig.api.AllowHosts({"localhost", "127.0.0.1", "::1", "Show-PC", "192.168.1.20"});
    const int status = rig.Ask("GET", "/api/status", "", "127.0.0.1", host).status;
    EXPECT_EQ(rig.Ask("POST", "/api/stop", kBearer, "127.0.0.1", host).status, status) << host;
    EXPECT_EQ(rig.show.calls.size(), status == 200 ? 1u : 0u) << host;
    return status;
  };
  // "": no header, so no browser sent it.
  for (const char* host : {"127.0.0.1:8080", "127.0.0.1", "LocalHost:8080", "localhost.:8080",
                           "[::1]:8080", "show-pc", "192.168.1.20:8080", ""}) {
    EXPECT_EQ(answer(host), 200) << host;
  }
  for (const char* host : {"evil.example:8080", "127.0.0.1.evil.example", "localhost.evil.example",
                           "[::2]:8080", "show-pc.evil.example"}) {
    EXPECT_EQ(answer(host), 421) << host;
  }
  // Until told its names, the API takes every host (a test's own server).
  ApiRig open;
  EXPECT_EQ(open.Ask("GET", "/", "", "1.2.3.4", "evil.example").status, 200);
}

TEST(WebApi, NightsAsGlimmerLogCountsThem) {
  ApiRig rig;
  rig.show.nights = {{.date = "2026-12-23", .shows = 1, .played = 20, .skipped = 1},
                     {.date = "2026-12-24",
                      .shows = 2,
                      .played = 18,
                      .lateKeepAlives = 3,
                      .lateLines = 2,
                      .portLosses = 1}};
  // The window against what played, as glimmer log's second table has it;
  // a night whose window opened and no show started is a night too.
  rig.show.played = {{"2026-12-24", 330, 300, 90, false}, {"2026-12-25", 330, 0, 0, true}};
  json j = json::parse(rig.Get("/api/nights", {{"n", "3"}}).body);
  EXPECT_EQ(rig.show.lastNightsAsked, 3);
  ASSERT_EQ(j["nights"].size(), 3u);
  EXPECT_EQ(j["nights"][0]["windowMinutes"], nullptr);
  EXPECT_EQ(j["nights"][0]["playedMinutes"], nullptr);
  EXPECT_EQ(j["nights"][1], (json{{"night", "2026-12-24"},
                                  {"shows", 2},
                                  {"played", 18},
                                  {"skipped", 0},
                                  {"lateKeepAlives", 3},
                                  {"lateLines", 2},
                                  {"portLosses", 1},
                                  {"windowMinutes", 330},
                                  {"playedMinutes", 300},
                                  {"percent", 90},
                                  {"short", false}}));
  EXPECT_EQ(j["nights"][2]["night"], "2026-12-25");
  EXPECT_EQ(j["nights"][2]["shows"], 0);
  EXPECT_EQ(j["nights"][2]["short"], true);
  j = json::parse(rig.Get("/api/nights", {{"n", "2"}}).body);
  ASSERT_EQ(j["nights"].size(), 2u);
  EXPECT_EQ(j["nights"][0]["night"], "2026-12-24");
  rig.Get("/api/nights");
  EXPECT_EQ(rig.show.lastNightsAsked, 7);
  for (const char* bad : {"0", "-1", "367", "7x", "", "1e3", "99999999999"}) {
    const web::Response r = rig.Get("/api/nights", {{"n", bad}});
    EXPECT_EQ(r.status, 400) << bad;
    EXPECT_NE(r.body.find("n must be a whole number from 1 to 366"), std::string::npos);
  }
}

}  // namespace

namespace {

// Every read the page offers costs the show's thread an answer: one address
// gets a burst and then its share a second, and a flood from it is refused
// at once without holding up another address or the controls.
TEST(WebApi, ReadsFromOneAddressAreLimitedOthersAreNot) {
  for (const char* path : {"/", "/api/status", "/api/nights"}) {
    SCOPED_TRACE(path);
    ApiRig rig;
    for (int i = 0; i < web::kReadBurst; ++i) {
      ASSERT_EQ(rig.Ask("GET", path, "", "10.0.0.9").status, 200) << i;
    }
    const web::Response refused = rig.Ask("HEAD", path, "", "10.0.0.9");
    EXPECT_EQ(refused.status, 429);
    EXPECT_EQ(refused.headers,
              (std::vector<std::pair<std::string, std::string>>{{"Retry-After", "1"}}));
    EXPECT_EQ(rig.Ask("GET", path, "", "10.0.0.10").status, 200);
    EXPECT_EQ(rig.Ask("POST", "/api/stop", kBearer, "10.0.0.9").status, 200);

    // The share comes back with time, never beyond the burst.
    rig.clock.now += std::chrono::milliseconds(1000 / web::kReadsPerSecond);
    EXPECT_EQ(rig.Ask("GET", path, "", "10.0.0.9").status, 200);
    EXPECT_EQ(rig.Ask("GET", path, "", "10.0.0.9").status, 429);
    rig.clock.now += std::chrono::hours(1);
    int answered = 0;
    while (rig.Ask("GET", path, "", "10.0.0.9").status == 200 && answered < 1000) ++answered;
    EXPECT_EQ(answered, web::kReadBurst);
  }
  // A page that polls as ours does (every two seconds) is never refused.
  ApiRig rig;
  for (int i = 0; i < 500; ++i) {
    rig.clock.now += std::chrono::seconds(2);
    ASSERT_EQ(rig.Get("/api/status").status, 200) << i;
  }
}

}  // namespace

namespace {

// The status is open to whoever reaches the page: the machine's folders are
// not, so a path in any of its texts shows as its last part; with the token
// the status is whole.
TEST(WebApi, TheStatusShowsNoFolderToAnyoneWithoutTheToken) {
  ApiRig rig;
  web::ShowStatus& s = rig.show.status;
  s.statusText = "Show Running... Press Stop To Stop The Show And/Or Change Settings";
  s.notice = "Cannot open /home/op/.local/share/glimmerfield/Cache/a.csq: No such file";
  s.playing = web::PlayingView{{0, "Carol   (/media/usb/shows/carol.msq)"}, 1, 2};
  s.window = web::WindowView{"5:30:00 PM", "11:00:00 PM", false, 60,
                             "/home/op/show/calendar.toml line 7: \"10/12\" is not a date"};
  s.health = web::HealthView{"2026-12-07 17:20:00",
                             "cannot read C:\\Users\\op\\show\\show.log: denied",
                             {"2026-12-07 09:00:00 port-lost: port /dev/ttyUSB0 lost, "
                              "\\\\nas\\share\\x.wav missing"}};
  const json whole = json::parse(rig.Get("/api/status").body);
  EXPECT_EQ(whole["statusText"], s.statusText);
  EXPECT_EQ(whole["notice"], "Cannot open a.csq: No such file");
  EXPECT_EQ(whole["playing"]["title"], "Carol   (carol.msq)");
  EXPECT_EQ(whole["window"]["problem"], "calendar.toml line 7: \"10/12\" is not a date");
  EXPECT_EQ(whole["window"]["start"], "5:30:00 PM");
  EXPECT_EQ(whole["health"]["lastCheckResult"], "cannot read show.log: denied");
  EXPECT_EQ(whole["health"]["alerts"][0],
            "2026-12-07 09:00:00 port-lost: port ttyUSB0 lost, x.wav missing");

  for (const std::string& header : {std::string("Bearer wrong"), std::string()}) {
    EXPECT_EQ(json::parse(rig.Ask("GET", "/api/status", header).body)["notice"],
              "Cannot open a.csq: No such file");
  }
  const json withToken = json::parse(rig.Ask("GET", "/api/status", kBearer).body);
  EXPECT_EQ(withToken["notice"], s.notice);
  EXPECT_EQ(withToken["window"]["problem"], s.window->problem);
  // A read with a wrong token is no guess that slows the controls.
  EXPECT_TRUE(rig.logged.empty());
  EXPECT_EQ(rig.Ask("POST", "/api/stop", kBearer).status, 200);
}

}  // namespace
