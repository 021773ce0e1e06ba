#include "web/api.h"

#include <algorithm>
#include <charconv>
#include <map>
#include <nlohmann/json.hpp>

#include "web/page.h"

namespace web {
namespace {

using Json = nlohmann::json;
using std::chrono::seconds;

// Wrong tokens allowed from one address before it has to wait; each further
// one doubles the wait, up to the longest.
constexpr int kFreeTries = 3;
constexpr seconds kLongestWait{300};
// Addresses not heard from for this long are forgotten, so the table stays
// small.
constexpr seconds kForgetAfter{3600};
constexpr std::size_t kMaxPeers = 1024;
constexpr int kMaxNights = 366;

// Texts in the show are bytes (list texts may be Windows-1252): bytes that
// are not UTF-8 become replacement characters instead of failing the answer.
std::string Dump(const Json& json) {
  return json.dump(-1, ' ', false, Json::error_handler_t::replace);
}

Response JsonResponse(int status, const Json& json) {
  return Response{status, "application/json", Dump(json) + "\n", {}};
}

Response Error(int status, const std::string& message) {
  return JsonResponse(status, Json{{"error", message}});
}

Json EntryJson(const EntryView& entry) {
  return Json{{"row", entry.row}, {"title", entry.title}, {"archive", entry.archive}};
}

Json StatusJson(const ShowStatus& s) {
  Json json;
  json["state"] = std::string(StateName(s.state));
  json["statusText"] = s.statusText;
  json["notice"] = s.notice;
  json["playing"] = nullptr;
  if (s.playing) {
    json["playing"] = EntryJson(s.playing->entry);
    json["playing"]["position"] = s.playing->positionSeconds;
    json["playing"]["length"] = s.playing->lengthSeconds;
    json["playing"]["remaining"] =
        s.playing->remainingSeconds ? Json(*s.playing->remainingSeconds) : Json(nullptr);
  }
  json["next"] = s.next ? EntryJson(*s.next) : Json(nullptr);
  json["window"] = nullptr;
  if (s.window) {
    json["window"] = Json{{"start", s.window->start},
                          {"end", s.window->end},
                          {"openNow", s.window->openNow},
                          {"opensInSeconds", nullptr},
                          {"problem", s.window->problem},
                          {"volume", s.window->volumePercent},
                          {"nextOpening", s.window->nextOpening}};
    if (s.window->opensInSeconds) json["window"]["opensInSeconds"] = *s.window->opensInSeconds;
  }
  json["keepAlive"] =
      Json{{"lastGapSeconds", s.keepAliveGapSeconds}, {"lateCount", s.lateKeepAlives}};
  json["stopAfterSong"] = s.stopAfterSong;
  json["health"] = nullptr;
  if (s.health) {
    const auto textOrNull = [](const std::string& text) {
      return text.empty() ? Json(nullptr) : Json(text);
    };
    Json items = Json::array();
    for (const AlertView& alert : s.health->alertItems) {
      items.push_back(Json{{"at", alert.at}, {"event", alert.event}, {"text", alert.text}});
    }
    json["health"] = Json{{"lastCheck", textOrNull(s.health->lastCheck)},
                          {"lastCheckResult", textOrNull(s.health->lastCheckResult)},
                          {"alerts", s.health->alerts},
                          {"alertItems", items}};
  }
  json["line"] = nullptr;
  if (s.line) json["line"] = Json{{"ok", s.line->ok}, {"summary", s.line->summary}};
  json["port"] = nullptr;
  if (s.port) {
    json["port"] = Json{{"name", s.port->name},
                        {"open", s.port->open},
                        {"lost", s.port->lost},
                        {"reason", s.port->reason}};
  }
  return json;
}

// The show log's nights, each with its window against what played where the
// log tells it; a night with a window and no event of its own is one too
// (a show that never started is what the operator asks about first).
Json NightsJson(const std::vector<playback::NightSummary>& summary,
                const std::vector<NightPlayedView>& played, int count) {
  struct Night {
    playback::NightSummary counts;
    NightPlayedView window;
  };
  std::map<std::string, Night> nights;
  for (const playback::NightSummary& night : summary) nights[night.date].counts = night;
  for (const NightPlayedView& night : played) {
    Night& n = nights[night.date];
    n.counts.date = night.date;
    n.window = night;
  }
  const auto orNull = [](int value) { return value < 0 ? Json(nullptr) : Json(value); };
  Json list = Json::array();
  for (const auto& [date, n] : nights) {
    const bool told = !n.window.date.empty();
    list.push_back(Json{{"night", date},
                        {"shows", n.counts.shows},
                        {"played", n.counts.played},
                        {"skipped", n.counts.skipped},
                        {"lateKeepAlives", n.counts.lateKeepAlives},
                        {"lateLines", n.counts.lateLines},
                        {"portLosses", n.counts.portLosses},
                        {"windowMinutes", orNull(n.window.windowMinutes)},
                        {"playedMinutes", told ? Json(n.window.playedMinutes) : Json(nullptr)},
                        {"percent", orNull(n.window.percent)},
                        {"short", n.window.isShort}});
  }
  while (static_cast<int>(list.size()) > count) list.erase(list.begin());
  return list;
}

// Where a path may begin: at the start, after a blank, or after what
// encloses or introduces a name.
bool StartsAWord(std::string_view text, std::size_t at) {
  if (at == 0) return true;
  const char before = text[at - 1];
  return before == ' ' || before == '\t' || before == '(' || before == '"' || before == '\'' ||
         before == '[' || before == '=' || before == '<';
}

bool IsLetter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// The length of the absolute path ("/home/...", "C:\...", "\\server\...")
// that begins at `at`; 0 when none does.
std::size_t PathLength(std::string_view text, std::size_t at) {
  if (!StartsAWord(text, at)) return 0;
  const std::string_view rest = text.substr(at);
  const bool posix = rest.size() > 1 && rest[0] == '/' && rest[1] != ' ';
  const bool drive =
      rest.size() > 3 && IsLetter(rest[0]) && rest[1] == ':' && (rest[2] == '\\' || rest[2] == '/');
  const bool share = rest.size() > 2 && rest[0] == '\\' && rest[1] == '\\';
  if (!posix && !drive && !share) return 0;
  std::size_t end = drive ? 2 : 0;
  for (; end < rest.size(); ++end) {
    const char c = rest[end];
    if (c == ' ' || c == '\t' || c == '"' || c == '\'' || c == ')' || c == ']' || c == ',' ||
        c == ';' || c == '>') {
      break;
    }
    // "/dir/show.log: why" ends before its colon.
    if (c == ':' && (end + 1 == rest.size() || rest[end + 1] == ' ')) break;
  }
  return end;
}

// Every absolute path in `text` as its last part: the page's status is open
// to whoever reaches the page, and the folders of the machine are none of
// their business ("Cannot open /home/op/show/Cache/a.csq" -> "Cannot open
// a.csq").
std::string HidePaths(std::string_view text) {
  std::string out;
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t length = PathLength(text, at);
    if (length == 0) {
      out += text[at++];
      continue;
    }
    std::string_view path = text.substr(at, length);
    while (path.size() > 1 && (path.back() == '/' || path.back() == '\\')) path.remove_suffix(1);
    const std::size_t slash = path.find_last_of("/\\");
    out += slash == std::string_view::npos ? path : path.substr(slash + 1);
    at += length;
  }
  return out;
}

void HidePathsIn(Json& json) {
  if (json.is_string()) {
    json = HidePaths(json.get_ref<const std::string&>());
  } else if (json.is_structured()) {
    for (Json& item : json) HidePathsIn(item);
  }
}

std::optional<int> WholeNumber(const std::string& text) {
  int value = 0;
  const char* end = text.data() + text.size();
  const auto [at, error] = std::from_chars(text.data(), end, value);
  if (error != std::errc() || at != end || text.empty()) return std::nullopt;
  return value;
}

}  // namespace

std::string_view StateName(ShowState state) {
  switch (state) {
    case ShowState::Paused:
      return "paused";
    case ShowState::Running:
      return "running";
    case ShowState::Stopped:
      break;
  }
  return "stopped";
}

std::optional<std::string_view> BearerToken(std::string_view header) {
  const auto blank = [](char c) { return c == ' ' || c == '\t'; };
  while (!header.empty() && blank(header.back())) header.remove_suffix(1);
  constexpr std::string_view kScheme = "bearer";
  if (header.size() <= kScheme.size() || !blank(header[kScheme.size()])) return std::nullopt;
  for (std::size_t i = 0; i < kScheme.size(); ++i) {
    const char c = header[i];
    if ((c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c) != kScheme[i]) {
      return std::nullopt;
    }
  }
  header.remove_prefix(kScheme.size());
  while (!header.empty() && blank(header.front())) header.remove_prefix(1);
  if (header.empty()) return std::nullopt;
  return header;
}

bool TokensEqual(std::string_view a, std::string_view b) {
  // Every byte of the longer one is looked at, whatever the others hold.
  const std::size_t length = std::max(a.size(), b.size());
  unsigned difference = a.size() == b.size() ? 0u : 1u;
  for (std::size_t i = 0; i < length; ++i) {
    const auto x = static_cast<unsigned char>(i < a.size() ? a[i] : 0);
    const auto y = static_cast<unsigned char>(i < b.size() ? b[i] : 0);
    difference |= static_cast<unsigned>(x ^ y);
  }
  return difference == 0;
}

Api::Api(StatusSource& status, ControlSink& control, std::string token, Now now, Log log)
    : status_(status),
      control_(control),
      token_(std::move(token)),
      now_(std::move(now)),
      log_(std::move(log)) {}

std::string HostName(std::string_view header) {
  std::string_view name = header;
  if (!name.empty() && name.front() == '[') {
    const std::size_t close = name.find(']');
    name = close == std::string_view::npos ? name.substr(1) : name.substr(1, close - 1);
  } else if (const std::size_t colon = name.find(':');
             colon != std::string_view::npos &&
             name.find(':', colon + 1) == std::string_view::npos) {
    // One colon: a name or IPv4 address and its port. More: an IPv6
    // address without brackets, as a list of names may give it.
    name = name.substr(0, colon);
  }
  if (!name.empty() && name.back() == '.') name.remove_suffix(1);
  std::string lower(name);
  for (char& c : lower) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return lower;
}

void Api::AllowHosts(std::vector<std::string> names) {
  hosts_.clear();
  for (const std::string& name : names) hosts_.push_back(HostName(name));
}

Response Api::Handle(const Request& request) {
  // A request without the header comes from no browser, so from no page of
  // another site either.
  if (!hosts_.empty() && !request.host.empty() &&
      std::find(hosts_.begin(), hosts_.end(), HostName(request.host)) == hosts_.end()) {
    return Error(
        421, "this show answers to its own addresses, not to \"" + HostName(request.host) + "\"");
  }
  const bool read = request.method == "GET" || request.method == "HEAD";
  const bool isControl = request.path == "/api/start" || request.path == "/api/stop" ||
                         request.path == "/api/stop-after-song" || request.path == "/api/skip";
  if (isControl) {
    if (request.method != "POST") {
      Response r = Error(405, "use POST for " + request.path);
      r.headers.emplace_back("Allow", "POST");
      return r;
    }
    return Control(request);
  }
  const bool known =
      request.path == "/" || request.path == "/api/status" || request.path == "/api/nights";
  if (!known) return Error(404, "no such page: " + request.path);
  if (!read) {
    Response r = Error(405, "use GET for " + request.path);
    r.headers.emplace_back("Allow", "GET, HEAD");
    return r;
  }
  if (auto tooMany = TooManyReads(request.peer)) return *tooMany;
  if (request.path == "/") return Response{200, "text/html; charset=utf-8", std::string(kPage), {}};
  if (request.path == "/api/status") {
    Json status = StatusJson(status_.Status());
    if (!Authenticated(request)) HidePathsIn(status);
    return JsonResponse(200, status);
  }

  int count = 7;
  if (const auto n = request.query.find("n"); n != request.query.end()) {
    const std::optional<int> value = WholeNumber(n->second);
    if (!value || *value < 1 || *value > kMaxNights) {
      return Error(400, "n must be a whole number from 1 to " + std::to_string(kMaxNights) +
                            ", not \"" + n->second + "\"");
    }
    count = *value;
  }
  return JsonResponse(
      200, Json{{"nights", NightsJson(status_.Nights(count), status_.NightsPlayed(count), count)}});
}

bool Api::Authenticated(const Request& request) const {
  const std::optional<std::string_view> token = BearerToken(request.authorization);
  return !token_.empty() && token && TokensEqual(*token, token_);
}

std::optional<Response> Api::TooManyReads(const std::string& peer) {
  const auto now = now_();
  // A full allowance is what a forgotten address starts with: those go
  // first when the table is full.
  constexpr auto kRefilled = seconds(kReadBurst / kReadsPerSecond + 1);
  if (reads_.size() >= kMaxPeers && !reads_.contains(peer)) {
    std::erase_if(reads_, [&](const auto& r) { return now - r.second.last > kRefilled; });
    if (reads_.size() >= kMaxPeers) {
      reads_.erase(std::min_element(reads_.begin(), reads_.end(), [](const auto& a, const auto& b) {
        return a.second.last < b.second.last;
      }));
    }
  }
  const auto [at, fresh] = reads_.try_emplace(peer, Reads{kReadBurst, now});
  Reads& r = at->second;
  if (!fresh) {
    const double since = std::chrono::duration<double>(now - r.last).count();
    r.allowance = std::min<double>(kReadBurst, r.allowance + since * kReadsPerSecond);
    r.last = now;
  }
  if (r.allowance >= 1.0) {
    r.allowance -= 1.0;
    return std::nullopt;
  }
  Response refused = Error(429, "too many requests from this address; try again in a second");
  refused.headers.emplace_back("Retry-After", "1");
  return refused;
}

std::optional<Response> Api::Slowed(const std::string& peer) {
  const auto found = failures_.find(peer);
  if (found == failures_.end()) return std::nullopt;
  const auto now = now_();
  if (now >= found->second.lockedUntil) return std::nullopt;
  const auto wait = std::chrono::ceil<seconds>(found->second.lockedUntil - now).count();
  Response r = Error(
      429, "too many wrong tokens from this address; try again in " + std::to_string(wait) + " s");
  r.headers.emplace_back("Retry-After", std::to_string(wait));
  return r;
}

Response Api::WrongToken(const Request& request, const char* what) {
  const auto now = now_();
  if (failures_.size() >= kMaxPeers) {
    std::erase_if(failures_, [&](const auto& f) { return now - f.second.last > kForgetAfter; });
  }
  // A flood of addresses must not grow the table without end: the oldest
  // lose their count before a new one is kept.
  if (failures_.size() >= kMaxPeers && !failures_.contains(request.peer)) {
    failures_.erase(std::min_element(
        failures_.begin(), failures_.end(),
        [](const auto& a, const auto& b) { return a.second.last < b.second.last; }));
  }
  Failures& f = failures_[request.peer];
  if (now - f.last > kForgetAfter) f.count = 0;
  ++f.count;
  f.last = now;
  std::string line = std::string("Phone page: ") + what + " from " + request.peer + " for " +
                     request.method + " " + request.path;
  if (f.count >= kFreeTries) {
    const int doublings = std::min(f.count - kFreeTries, 16);
    const seconds wait = std::min(seconds(1LL << doublings), kLongestWait);
    f.lockedUntil = now + wait;
    line += "; its next try waits " + std::to_string(wait.count()) + " s";
  }
  if (log_) log_(line);
  Response r =
      Error(401, std::string(what) + ": send the show's token as 'Authorization: Bearer TOKEN'");
  r.headers.emplace_back("WWW-Authenticate", "Bearer realm=\"Glimmerfield\"");
  return r;
}

Response Api::Control(const Request& request) {
  if (token_.empty()) {
    return Error(403, "no token is set for the phone page: run 'glimmer web --enable'");
  }
  // The right token always passes: every local user shares 127.0.0.1 and
  // phones behind one router share an address, so wrong guesses from there
  // must not lock out the operator. Only wrong ones wait.
  if (!Authenticated(request)) {
    if (auto slowed = Slowed(request.peer)) return *slowed;
    return WrongToken(request, request.authorization.empty() ? "no token" : "wrong token");
  }
  failures_.erase(request.peer);

  platform::Status done = platform::Status::Ok();
  if (request.path == "/api/start") {
    done = control_.Start(kPhonePage);
  } else if (request.path == "/api/stop") {
    done = control_.Stop(kPhonePage);
  } else if (request.path == "/api/stop-after-song") {
    done = control_.StopAfterSong(kPhonePage);
  } else {
    done = control_.Skip(kPhonePage);
  }
  if (!done) return Error(409, done.message());
  return JsonResponse(
      200, Json{{"ok", true}, {"state", std::string(StateName(status_.Status().state))}});
}

}  // namespace web
