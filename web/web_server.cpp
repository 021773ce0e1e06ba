#include "web/web_server.h"

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
// The adapters' addresses need Winsock 2's types, declared above.
#include <iphlpapi.h>
#else
#include <arpa/inet.h>
#include <errno.h>
#include <ifaddrs.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#endif
#include <microhttpd.h>

#include <algorithm>
#include <charconv>
#include <cstring>
#include <string>
#include <vector>

#ifdef _WIN32
#include "platform/win/wide_text.h"
#endif

namespace web {
namespace {

#ifdef _WIN32
int LastSocketError() {
  return WSAGetLastError();
}

std::string SystemError(int error) {
  return platform::win::SystemMessage(static_cast<std::uint32_t>(error));
}

void CloseSocket(SocketHandle socket) {
  ::closesocket(socket);
}

// Winsock serves a process only after it asked once; the library asks too,
// but only when its daemon starts, after our own socket.
bool StartWinsock() {
  static const bool started = [] {
    WSADATA data{};
    return WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }();
  return started;
}

// Non-blocking and not inherited by the programs the show starts (alerts,
// the extractor), as SOCK_NONBLOCK | SOCK_CLOEXEC make it elsewhere.
SocketHandle OpenListeningSocket() {
  if (!StartWinsock()) return kNoSocket;
  const SOCKET s = WSASocketW(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0,
                              WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT);
  if (s == INVALID_SOCKET) return kNoSocket;
  u_long nonBlocking = 1;
  ::ioctlsocket(s, FIONBIO, &nonBlocking);
  // Windows' SO_REUSEADDR lets another program take over a bound port;
  // SO_EXCLUSIVEADDRUSE is what keeps the page's port its own.
  const BOOL on = TRUE;
  ::setsockopt(s, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&on), sizeof on);
  return s;
}

void ShutSocket(SocketHandle socket) {
  ::shutdown(socket, SD_BOTH);
}

// Select-driven: Windows has no epoll, and the show polls the server at its
// yields.
constexpr unsigned kDaemonFlags = MHD_NO_FLAG;

// Winsock's select never reports a socket shut on this side, so the library
// would keep a cut connection, and its slot, until its own idle timeout.
// Handed over as failed sockets, they are closed by the library at once.
void CloseCutConnections(MHD_Daemon* daemon, const std::vector<SocketHandle>& cut) {
  for (std::size_t first = 0; first < cut.size(); first += FD_SETSIZE) {
    fd_set none, alsoNone, failed;
    FD_ZERO(&none);
    FD_ZERO(&alsoNone);
    FD_ZERO(&failed);
    const std::size_t end = std::min<std::size_t>(cut.size(), first + FD_SETSIZE);
    for (std::size_t i = first; i < end; ++i) FD_SET(static_cast<SOCKET>(cut[i]), &failed);
    MHD_run_from_select(daemon, &none, &alsoNone, &failed);
  }
}
#else
int LastSocketError() {
  return errno;
}

std::string SystemError(int error) {
  return std::strerror(error);
}

void CloseSocket(SocketHandle socket) {
  ::close(socket);
}

SocketHandle OpenListeningSocket() {
  const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (s < 0) return kNoSocket;
  const int on = 1;
  ::setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  return s;
}

void ShutSocket(SocketHandle socket) {
  ::shutdown(socket, SHUT_RDWR);
}

constexpr unsigned kDaemonFlags = MHD_USE_EPOLL;

// A socket shut here reads as ended at once, which the library sees.
void CloseCutConnections(MHD_Daemon* daemon, const std::vector<SocketHandle>&) {
  MHD_run(daemon);
}
#endif

// The text form of an IPv4 or IPv6 address; empty for another family.
std::string AddressText(const sockaddr* address) {
  char text[INET6_ADDRSTRLEN] = {};
  if (address->sa_family == AF_INET) {
    const auto* v4 = reinterpret_cast<const sockaddr_in*>(address);
    ::inet_ntop(AF_INET, &v4->sin_addr, text, sizeof text);
  } else if (address->sa_family == AF_INET6) {
    const auto* v6 = reinterpret_cast<const sockaddr_in6*>(address);
    ::inet_ntop(AF_INET6, &v6->sin6_addr, text, sizeof text);
  }
  return text;
}

std::string PeerOf(MHD_Connection* connection) {
  const MHD_ConnectionInfo* info =
      MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CLIENT_ADDRESS);
  if (info == nullptr || info->client_addr == nullptr) return "?";
  return AddressText(info->client_addr);
}

MHD_Result AddQuery(void* map, MHD_ValueKind, const char* key, const char* value) {
  if (key != nullptr) {
    (*static_cast<std::map<std::string, std::string>*>(map))[key] = value != nullptr ? value : "";
  }
  return MHD_YES;
}

}  // namespace

std::vector<std::string> MachineHostNames(const std::string& host) {
  std::vector<std::string> names{"localhost", "127.0.0.1", "::1"};
  if (!host.empty() && host != "0.0.0.0") names.push_back(host);
  char name[256] = {};
#ifdef _WIN32
  StartWinsock();
#endif
  if (::gethostname(name, sizeof name - 1) == 0 && name[0] != '\0') {
    names.emplace_back(name);
    names.push_back(std::string(name) + ".local");
  }
#ifdef _WIN32
  ULONG size = 16 * 1024;
  std::vector<unsigned char> buffer;
  ULONG result = ERROR_BUFFER_OVERFLOW;
  for (int attempt = 0; attempt < 3 && result == ERROR_BUFFER_OVERFLOW; ++attempt) {
    buffer.resize(size);
    result = ::GetAdaptersAddresses(
        AF_UNSPEC, GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST | GAA_FLAG_SKIP_DNS_SERVER,
        nullptr, reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data()), &size);
  }
  if (result == NO_ERROR) {
    for (auto* adapter = reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data()); adapter != nullptr;
         adapter = adapter->Next) {
      for (auto* at = adapter->FirstUnicastAddress; at != nullptr; at = at->Next) {
        if (std::string text = AddressText(at->Address.lpSockaddr); !text.empty()) {
          names.push_back(std::move(text));
        }
      }
    }
  }
#else
  ifaddrs* interfaces = nullptr;
  if (::getifaddrs(&interfaces) == 0) {
    for (const ifaddrs* at = interfaces; at != nullptr; at = at->ifa_next) {
      if (at->ifa_addr == nullptr) continue;
      if (std::string text = AddressText(at->ifa_addr); !text.empty()) {
        names.push_back(std::move(text));
      }
    }
    ::freeifaddrs(interfaces);
  }
#endif
  return names;
}

// What one request has sent so far.
struct RequestState {
  std::size_t bodyBytes = 0;
  bool answered = false;
};

struct ServerCallbacks {
  static MHD_Result Answer(MHD_Connection* connection, const Response& response) {
    MHD_Response* r = MHD_create_response_from_buffer(
        response.body.size(), const_cast<char*>(response.body.data()), MHD_RESPMEM_MUST_COPY);
    if (r == nullptr) return MHD_NO;
    if (!response.contentType.empty()) {
      MHD_add_response_header(r, MHD_HTTP_HEADER_CONTENT_TYPE, response.contentType.c_str());
    }
    // The page takes nothing from elsewhere and is shown in no other page.
    MHD_add_response_header(r, "Content-Security-Policy",
                            "default-src 'none'; script-src 'unsafe-inline'; style-src "
                            "'unsafe-inline'; connect-src 'self'; form-action 'none'; "
                            "frame-ancestors 'none'; base-uri 'none'");
    MHD_add_response_header(r, "X-Content-Type-Options", "nosniff");
    MHD_add_response_header(r, "Referrer-Policy", "no-referrer");
    MHD_add_response_header(r, MHD_HTTP_HEADER_CACHE_CONTROL, "no-store");
    for (const auto& [name, value] : response.headers) {
      MHD_add_response_header(r, name.c_str(), value.c_str());
    }
    const MHD_Result queued =
        MHD_queue_response(connection, static_cast<unsigned>(response.status), r);
    MHD_destroy_response(r);
    return queued;
  }

  static MHD_Result OnRequest(void* self, MHD_Connection* connection, const char* url,
                              const char* method, const char*, const char*, std::size_t* uploadSize,
                              void** state) {
    auto& server = *static_cast<WebServer*>(self);
    if (*state == nullptr) {
      auto* fresh = new RequestState;
      *state = fresh;
      // A body said to be too long is refused before a byte of it is read.
      const char* length =
          MHD_lookup_connection_value(connection, MHD_HEADER_KIND, MHD_HTTP_HEADER_CONTENT_LENGTH);
      if (length != nullptr) {
        unsigned long long bytes = 0;
        const char* end = length + std::strlen(length);
        const auto [at, error] = std::from_chars(length, end, bytes);
        if (error != std::errc() || at != end || bytes > kMaxBodyBytes) {
          fresh->answered = true;
          return Answer(connection, Response{413,
                                             "application/json",
                                             "{\"error\":\"a request body may hold at most " +
                                                 std::to_string(kMaxBodyBytes) + " bytes\"}\n",
                                             {{"Connection", "close"}}});
        }
      }
      return MHD_YES;
    }
    auto* request = static_cast<RequestState*>(*state);
    if (*uploadSize > 0) {
      // Sent without a length (chunked): counted as it comes, and the
      // connection is dropped once past the limit.
      request->bodyBytes += *uploadSize;
      *uploadSize = 0;
      return request->bodyBytes > kMaxBodyBytes ? MHD_NO : MHD_YES;
    }
    if (request->answered) return MHD_YES;
    request->answered = true;

    Request r;
    r.method = method != nullptr ? method : "";
    r.path = url != nullptr ? url : "";
    MHD_get_connection_values(connection, MHD_GET_ARGUMENT_KIND, AddQuery, &r.query);
    const char* authorization =
        MHD_lookup_connection_value(connection, MHD_HEADER_KIND, MHD_HTTP_HEADER_AUTHORIZATION);
    if (authorization != nullptr) r.authorization = authorization;
    const char* host =
        MHD_lookup_connection_value(connection, MHD_HEADER_KIND, MHD_HTTP_HEADER_HOST);
    if (host != nullptr) r.host = host;
    r.peer = PeerOf(connection);
    return Answer(connection, server.api_.Handle(r));
  }

  static void OnCompleted(void* self, MHD_Connection* connection, void** state,
                          MHD_RequestTerminationCode) {
    delete static_cast<RequestState*>(*state);
    *state = nullptr;
    // The next request on a kept-alive connection gets its own deadline.
    auto& server = *static_cast<WebServer*>(self);
    if (auto found = server.connections_.find(connection); found != server.connections_.end()) {
      found->second.since = server.now_();
    }
  }

  static void OnConnection(void* self, MHD_Connection* connection, void**,
                           MHD_ConnectionNotificationCode what) {
    auto& server = *static_cast<WebServer*>(self);
    if (what == MHD_CONNECTION_NOTIFY_CLOSED) {
      server.connections_.erase(connection);
      return;
    }
    const MHD_ConnectionInfo* info =
        MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CONNECTION_FD);
    server.connections_[connection] = WebServer::Connection{
        info != nullptr ? static_cast<SocketHandle>(info->connect_fd) : kNoSocket, server.now_(),
        false};
  }
};

platform::Result<ListenAddress> ParseListenAddress(std::string_view text) {
  const auto bad = [&](const std::string& why) {
    return platform::Result<ListenAddress>::Error("listen = \"" + std::string(text) +
                                                  "\" is not an address to listen on: " + why);
  };
  const std::size_t colon = text.rfind(':');
  if (colon == std::string_view::npos) return bad("it needs a port, as in \"127.0.0.1:8080\"");
  ListenAddress address;
  address.host = std::string(text.substr(0, colon));
  const std::string_view port = text.substr(colon + 1);
  const auto [at, error] = std::from_chars(port.data(), port.data() + port.size(), address.port);
  if (port.empty() || error != std::errc() || at != port.data() + port.size() || address.port < 1 ||
      address.port > 65535) {
    return bad("the port must be a whole number from 1 to 65535");
  }
  in_addr parsed{};
  if (::inet_pton(AF_INET, address.host.c_str(), &parsed) != 1) {
    return bad("the host must be an IPv4 address such as 127.0.0.1 or 0.0.0.0");
  }
  return address;
}

WebServer::WebServer(Api& api, Now now, ServerLimits limits)
    : api_(api), now_(std::move(now)), limits_(limits) {}

WebServer::~WebServer() {
  // The library closes the listening socket it was given.
  if (daemon_ != nullptr) {
    MHD_stop_daemon(daemon_);
  } else if (listenFd_ != kNoSocket) {
    CloseSocket(listenFd_);
  }
}

platform::Status WebServer::Listen(const ListenAddress& address) {
  const std::string where = address.host + ":" + std::to_string(address.port);
  if (daemon_ != nullptr) return platform::Status::Error("the page already listens");
  sockaddr_in bound{};
  bound.sin_family = AF_INET;
  bound.sin_port = htons(static_cast<std::uint16_t>(address.port));
  if (::inet_pton(AF_INET, address.host.c_str(), &bound.sin_addr) != 1) {
    return platform::Status::Error("cannot listen on " + where + ": not an IPv4 address");
  }
  // Our own socket, so that a refusal says why (MHD only says it failed).
  listenFd_ = OpenListeningSocket();
  if (listenFd_ == kNoSocket) {
    return platform::Status::Error("cannot listen on " + where + ": " +
                                   SystemError(LastSocketError()));
  }
  if (::bind(listenFd_, reinterpret_cast<const sockaddr*>(&bound), sizeof bound) != 0 ||
      ::listen(listenFd_, 16) != 0) {
    const int error = LastSocketError();
    CloseSocket(listenFd_);
    listenFd_ = kNoSocket;
    return platform::Status::Error("cannot listen on " + where + ": " + SystemError(error));
  }
  sockaddr_in actual{};
  socklen_t size = sizeof actual;
  ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&actual), &size);
  port_ = ntohs(actual.sin_port);

  daemon_ = MHD_start_daemon(
      kDaemonFlags, 0, nullptr, nullptr, &ServerCallbacks::OnRequest, this,
      MHD_OPTION_LISTEN_SOCKET, listenFd_, MHD_OPTION_CONNECTION_MEMORY_LIMIT,
      limits_.memoryPerConnection, MHD_OPTION_CONNECTION_LIMIT, limits_.connections,
      MHD_OPTION_PER_IP_CONNECTION_LIMIT, limits_.connectionsPerAddress,
      MHD_OPTION_CONNECTION_TIMEOUT, static_cast<unsigned>(limits_.idleTimeout.count()),
      MHD_OPTION_NOTIFY_COMPLETED, &ServerCallbacks::OnCompleted, this,
      MHD_OPTION_NOTIFY_CONNECTION, &ServerCallbacks::OnConnection, this,
      MHD_OPTION_STRICT_FOR_CLIENT, 1, MHD_OPTION_END);
  if (daemon_ == nullptr) {
    CloseSocket(listenFd_);
    listenFd_ = kNoSocket;
    return platform::Status::Error("cannot listen on " + where +
                                   ": the HTTP library would not start");
  }
  api_.AllowHosts(MachineHostNames(address.host));
  return platform::Status::Ok();
}

int WebServer::WakeFd() const {
#ifdef _WIN32
  return -1;
#else
  if (daemon_ == nullptr) return -1;
  const MHD_DaemonInfo* info = MHD_get_daemon_info(daemon_, MHD_DAEMON_INFO_EPOLL_FD);
  return info != nullptr ? info->epoll_fd : -1;
#endif
}

void WebServer::Poll() {
  if (daemon_ == nullptr) return;
  MHD_run(daemon_);
  // A client that trickles its request keeps the idle timeout at bay: its
  // socket is shut, and the library closes the connection as it sees that.
  const auto now = now_();
  std::vector<SocketHandle> cut;
  for (auto& [connection, c] : connections_) {
    if (!c.cut && c.fd != kNoSocket && now - c.since > limits_.requestDeadline) {
      ShutSocket(c.fd);
      c.cut = true;
      cut.push_back(c.fd);
    }
  }
  if (!cut.empty()) CloseCutConnections(daemon_, cut);
}

}  // namespace web
