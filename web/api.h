#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "web/show_view.h"

namespace web {

// Who asked, in the show log, for everything the page does.
inline constexpr const char* kPhonePage = "phone page";
// POST bodies carry nothing the controls need; more than this is refused
// unread.
inline constexpr std::size_t kMaxBodyBytes = 1024;

struct Request {
  std::string method;  // "GET", "HEAD", "POST", ...
  std::string path;    // without the query
  std::map<std::string, std::string> query;
  std::string authorization;  // the header's value, empty when absent
  std::string peer;           // the client's address
  std::string host;           // the Host header, empty when absent
};

struct Response {
  int status = 200;
  std::string contentType;
  std::string body;
  std::vector<std::pair<std::string, std::string>> headers;
};

// What one address may read: a burst of this many requests, then this many
// a second. The page asks for its status every two seconds; a client that
// asks far more often is answered 429 at once, so no address can keep the
// show's thread busy answering it.
inline constexpr int kReadBurst = 20;
inline constexpr int kReadsPerSecond = 10;

// The token of an Authorization header: the scheme "Bearer" in any case,
// blanks, the token; blanks after it are not part of it. Nothing for
// another scheme or none.
std::optional<std::string_view> BearerToken(std::string_view header);

// Compares two tokens in time that depends on their lengths only, not on
// where they first differ.
bool TokensEqual(std::string_view a, std::string_view b);

// The name a Host header gives, without its port, in lower case and without
// a final dot: "[::1]:8080" gives "::1", "Show-PC.:80" gives "show-pc".
std::string HostName(std::string_view header);

// The page and the API, apart from HTTP: a request in, a response out. GET
// only reads; every POST needs the token.
class Api {
 public:
  using Now = std::function<std::chrono::steady_clock::time_point()>;
  using Log = std::function<void(const std::string&)>;

  // An empty `token` refuses every control. `log` hears each refused token.
  Api(StatusSource& status, ControlSink& control, std::string token, Now now, Log log);

  // The names and addresses this machine is asked by. A request naming
  // another host is refused: a site whose name was pointed at this machine
  // (DNS rebinding) must not read the show's status from a browser on it.
  // Empty: every host.
  void AllowHosts(std::vector<std::string> names);

  Response Handle(const Request& request);

 private:
  Response Control(const Request& request);
  // The request carries the show's token (a read needs none, but gets the
  // status whole with it).
  bool Authenticated(const Request& request) const;
  // The refusal while `peer` must wait after wrong tokens, or nothing.
  std::optional<Response> Slowed(const std::string& peer);
  Response WrongToken(const Request& request, const char* what);
  // The refusal when `peer` has read more than its share lately, or nothing.
  std::optional<Response> TooManyReads(const std::string& peer);

  struct Failures {
    int count = 0;
    std::chrono::steady_clock::time_point lockedUntil{};
    std::chrono::steady_clock::time_point last{};
  };

  StatusSource& status_;
  ControlSink& control_;
  std::string token_;
  Now now_;
  Log log_;
  std::map<std::string, Failures> failures_;
  struct Reads {
    double allowance = kReadBurst;
    std::chrono::steady_clock::time_point last{};
  };
  std::map<std::string, Reads> reads_;
  std::vector<std::string> hosts_;
};

}  // namespace web
