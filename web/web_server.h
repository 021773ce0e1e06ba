#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "platform/status.h"
#include "web/api.h"

struct MHD_Daemon;
struct MHD_Connection;

namespace web {

// A socket as the system gives it: a descriptor, or on Windows a SOCKET.
#ifdef _WIN32
using SocketHandle = std::uintptr_t;
inline constexpr SocketHandle kNoSocket = ~SocketHandle{0};
#else
using SocketHandle = int;
inline constexpr SocketHandle kNoSocket = -1;
#endif

// An IPv4 address and port to listen on, "127.0.0.1:8080".
struct ListenAddress {
  std::string host;
  int port = 0;
};

// An error names the text and what is wrong with it.
platform::Result<ListenAddress> ParseListenAddress(std::string_view text);

// The names a browser on this machine or the network may use for it while
// it listens on `host`: the listen address, localhost and the loopback
// addresses, the machine's host name (also with ".local") and the addresses
// of its interfaces.
std::vector<std::string> MachineHostNames(const std::string& host);

// What one client may take. A request line with its headers must fit into
// the memory of its connection; a client that says nothing for the idle time
// is dropped, and so is one whose request is not complete within the
// deadline, however slowly it keeps sending.
struct ServerLimits {
  std::size_t memoryPerConnection = 16 * 1024;
  unsigned connections = 32;
  unsigned connectionsPerAddress = 16;
  std::chrono::seconds idleTimeout{10};
  std::chrono::seconds requestDeadline{15};
};

// The page's HTTP server, run by the show's own thread: Poll() answers what
// has arrived and returns at once; it never waits for a client. Between
// polls nothing runs, so no lock is needed on the show's side.
class WebServer {
 public:
  using Now = std::function<std::chrono::steady_clock::time_point()>;

  explicit WebServer(Api& api, Now now = std::chrono::steady_clock::now, ServerLimits limits = {});
  ~WebServer();
  WebServer(const WebServer&) = delete;
  WebServer& operator=(const WebServer&) = delete;

  // Binds and starts listening, answering to the names MachineHostNames
  // gives. An error names the address and the reason.
  platform::Status Listen(const ListenAddress& address);
  // The bound port (for port 0: the one the system chose).
  int Port() const { return port_; }
  // Readable when Poll has work: the show may add it to what it waits on.
  // -1 where there is none (Windows): the show then polls at its yields.
  int WakeFd() const;
  // Accepts, reads, answers and closes what is ready; never blocks.
  void Poll();

  // Connections open now (for the tests and the benchmark).
  std::size_t OpenConnections() const { return connections_.size(); }

 private:
  struct Connection {
    SocketHandle fd = kNoSocket;
    std::chrono::steady_clock::time_point since;
    bool cut = false;
  };

  friend struct ServerCallbacks;

  Api& api_;
  Now now_;
  ServerLimits limits_;
  MHD_Daemon* daemon_ = nullptr;
  SocketHandle listenFd_ = kNoSocket;
  int port_ = 0;
  std::map<MHD_Connection*, Connection> connections_;
};

}  // namespace web
