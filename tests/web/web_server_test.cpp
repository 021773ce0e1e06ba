// The real HTTP server on the loopback address, polled by the test as the
// show polls it: answers, oversize and slow requests. The token over the
// wire is the phone page tests'.
#include "web/web_server.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <memory>
#include <nlohmann/json.hpp>

#include "tests/web/http_client.h"
#include "tests/web/web_fakes.h"

namespace {

using web_test::BodyOf;
using web_test::HttpClient;
using web_test::StatusOf;

constexpr const char* kToken = "f00df00df00df00df00df00df00df00d";

struct ServerRig {
  web_test::FakeShow show;
  web_test::FakeSteadyClock clock;
  web::Api api{show, show, kToken, clock.Function(), {}};
  web::WebServer server{api, clock.Function()};

  ServerRig() {
    const platform::Status listening = server.Listen({"127.0.0.1", 0});
    EXPECT_TRUE(listening.ok()) << listening.message();
  }
  std::unique_ptr<HttpClient> Client() {
    return std::make_unique<HttpClient>(server.Port(), [this] { server.Poll(); });
  }
  std::string Exchange(const std::string& request) {
    auto client = Client();
    client->Send(request);
    return client->ReceiveResponse();
  }
  std::string Get(const std::string& path, const std::string& host = "127.0.0.1") {
    return Exchange("GET " + path + " HTTP/1.1\r\nHost: " + host + "\r\n\r\n");
  }
};

TEST(WebServer, AnswersTheApiAndThePage) {
  ServerRig rig;
  rig.show.status.state = web::ShowState::Paused;
  const std::string status = rig.Get("/api/status");
  ASSERT_EQ(StatusOf(status), 200) << status;
  EXPECT_NE(status.find("Content-Type: application/json"), std::string::npos);
  EXPECT_NE(status.find("Cache-Control: no-store"), std::string::npos);
  EXPECT_EQ(nlohmann::json::parse(BodyOf(status))["state"], "paused");

  const std::string page = rig.Get("/");
  EXPECT_EQ(StatusOf(page), 200);
  EXPECT_NE(page.find("Content-Security-Policy: default-src 'none'"), std::string::npos);
  EXPECT_NE(page.find("<!DOCTYPE html>"), std::string::npos);

  EXPECT_EQ(StatusOf(rig.Get("/api/nights?n=3")), 200);
  EXPECT_EQ(rig.show.lastNightsAsked, 3);

  const std::string none =
      rig.Exchange("POST /api/stop HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: 0\r\n\r\n");
  EXPECT_EQ(StatusOf(none), 401) << none;
  EXPECT_NE(none.find("WWW-Authenticate: Bearer"), std::string::npos);
}

TEST(WebServer, RefusesAHostNameThatIsNotThisMachines) {
  ServerRig rig;
  const std::string port = std::to_string(rig.server.Port());
  const std::string rebound = rig.Get("/api/status", "attacker.example:" + port);
  EXPECT_EQ(StatusOf(rebound), 421) << rebound;
  // The machine's own name, as a phone on the network may use it.
  const std::vector<std::string> names = web::MachineHostNames("0.0.0.0");
  EXPECT_EQ(std::count(names.begin(), names.end(), "0.0.0.0"), 0);
  char name[256] = {};
  ASSERT_EQ(::gethostname(name, sizeof name - 1), 0);
  EXPECT_EQ(std::count(names.begin(), names.end(), std::string(name)), 1);
  EXPECT_EQ(StatusOf(rig.Get("/api/status", name + (":" + port))), 200);
}

TEST(WebServer, OversizeRequestsAreRefusedAndABodyPastOneKilobyteIsNotRead) {
  ServerRig rig;
  const std::string auth = std::string("Authorization: Bearer ") + kToken + "\r\n";
  // Said in advance: refused before the body is read.
  const std::string said = rig.Exchange("POST /api/stop HTTP/1.1\r\nHost: 127.0.0.1\r\n" + auth +
                                        "Content-Length: 1025\r\n\r\n" + std::string(1025, 'x'));
  EXPECT_EQ(StatusOf(said), 413) << said;
  // Sent in chunks: dropped once past the limit, without an answer.
  auto client = rig.Client();
  client->Send("POST /api/stop HTTP/1.1\r\nHost: 127.0.0.1\r\n" + auth +
               "Transfer-Encoding: chunked\r\n\r\n400\r\n" + std::string(1024, 'x') + "\r\n10\r\n" +
               std::string(16, 'y') + "\r\n0\r\n\r\n");
  const std::string chunked = client->Receive();
  EXPECT_TRUE(client->Closed());
  EXPECT_NE(StatusOf(chunked), 200) << chunked;
  // Exactly the limit is fine.
  const std::string fits = rig.Exchange("POST /api/skip HTTP/1.1\r\nHost: 127.0.0.1\r\n" + auth +
                                        "Content-Length: 1024\r\n\r\n" + std::string(1024, 'x'));
  EXPECT_EQ(StatusOf(fits), 200) << fits;
  EXPECT_EQ(rig.show.calls, std::vector<std::string>{"Skip by phone page"});

  const std::string longPath = rig.Get("/" + std::string(20000, 'a'));
  EXPECT_GE(StatusOf(longPath), 400) << longPath.substr(0, 200);
  const std::string longHeader = rig.Exchange(
      "GET /api/status HTTP/1.1\r\nHost: 127.0.0.1\r\nX-Fill: " + std::string(20000, 'b') +
      "\r\n\r\n");
  EXPECT_GE(StatusOf(longHeader), 400) << longHeader.substr(0, 200);
  // The server goes on answering.
  EXPECT_EQ(StatusOf(rig.Get("/api/status")), 200);
}

TEST(WebServer, AClientThatTricklesItsRequestIsCutAtTheDeadlineOfThatRequest) {
  ServerRig rig;
  auto slow = rig.Client();
  slow->Send("GET /api/status HTTP/1.1\r\nHo");
  slow->Turn();
  EXPECT_EQ(rig.server.OpenConnections(), 1u);
  // A byte now and then keeps the idle timeout away, not the deadline.
  for (int second = 0; second < 14; ++second) {
    rig.clock.now += std::chrono::seconds(1);
    slow->Send("s");
    slow->Turn();
  }
  EXPECT_FALSE(slow->Closed());
  rig.clock.now += std::chrono::seconds(2);
  const std::string got = slow->Receive();
  EXPECT_TRUE(slow->Closed());
  EXPECT_NE(StatusOf(got), 200);
  EXPECT_EQ(rig.server.OpenConnections(), 0u);
  // Meanwhile and after, others are answered.
  EXPECT_EQ(StatusOf(rig.Get("/api/status")), 200);

  // A kept-alive connection gets a deadline per request.
  auto client = rig.Client();
  for (int i = 0; i < 3; ++i) {
    client->Send("GET /api/status HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
    const std::string answers = client->ReceiveResponse();
    EXPECT_EQ(StatusOf(answers.substr(answers.rfind("HTTP/1.1 "))), 200);
    rig.clock.now += std::chrono::seconds(10);
  }
  EXPECT_FALSE(client->Closed());
}

TEST(WebServer, AnAddressInUseOrNotAnAddressIsNamed) {
  ServerRig first;
  web::WebServer second(first.api);
  const platform::Status taken = second.Listen({"127.0.0.1", first.server.Port()});
  EXPECT_NE(
      taken.message().find("cannot listen on 127.0.0.1:" + std::to_string(first.server.Port())),
      std::string::npos)
      << taken.message();
  const std::pair<const char*, bool> cases[] = {
      {"127.0.0.1:8080", true},  {"0.0.0.0:80", true},   {"127.0.0.1", false},
      {"localhost:8080", false}, {"1.2.3.4:0", false},   {"1.2.3.4:65536", false},
      {":8080", false},          {"1.2.3.4:80x", false}, {"[::1]:8080", false}};
  for (const auto& [text, ok] : cases) EXPECT_EQ(web::ParseListenAddress(text).ok(), ok) << text;
}

}  // namespace
