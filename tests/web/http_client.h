#pragma once

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

#include <cerrno>
#include <functional>
#include <string>

#include "web/web_server.h"

namespace web_test {

// The few socket calls that differ between Winsock and POSIX.
#ifdef _WIN32
inline web::SocketHandle NewSocket() {
  WSADATA data{};
  WSAStartup(MAKEWORD(2, 2), &data);
  const SOCKET s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  u_long nonBlocking = 1;
  ::ioctlsocket(s, FIONBIO, &nonBlocking);
  return s;
}
inline void CloseSocket(web::SocketHandle s) {
  ::closesocket(s);
}
inline bool WouldBlock() {
  const int e = WSAGetLastError();
  return e == WSAEWOULDBLOCK || e == WSAEINPROGRESS || e == WSAENOTCONN;
}
inline void WaitReadable(web::SocketHandle s, int ms) {
  WSAPOLLFD p{s, POLLRDNORM, 0};
  ::WSAPoll(&p, 1, ms);
}
constexpr int kSendFlags = 0;
#else
inline web::SocketHandle NewSocket() {
  return ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
}
inline void CloseSocket(web::SocketHandle s) {
  ::close(s);
}
inline bool WouldBlock() {
  return errno == EAGAIN || errno == EINPROGRESS || errno == ENOTCONN;
}
inline void WaitReadable(web::SocketHandle s, int ms) {
  pollfd p{s, POLLIN, 0};
  ::poll(&p, 1, ms);
}
constexpr int kSendFlags = MSG_NOSIGNAL;
#endif

// One client connection to 127.0.0.1:port. Its waits run `poll` (the server's
// Poll, for a server in this thread) between looks at the socket, so the
// server and the client take turns without a thread.
class HttpClient {
 public:
  HttpClient(int port, std::function<void()> poll) : poll_(std::move(poll)) {
    fd_ = NewSocket();
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<std::uint16_t>(port));
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::connect(fd_, reinterpret_cast<const sockaddr*>(&to), sizeof to);
  }
  ~HttpClient() {
    if (fd_ != web::kNoSocket) CloseSocket(fd_);
  }
  HttpClient(const HttpClient&) = delete;
  HttpClient& operator=(const HttpClient&) = delete;

  // Sends all of `bytes` (or as much as the server takes before it closes).
  void Send(const std::string& bytes) {
    std::size_t at = 0;
    for (int turn = 0; at < bytes.size() && turn < kTurns; ++turn) {
      const auto n =
          ::send(fd_, bytes.data() + at, static_cast<int>(bytes.size() - at), kSendFlags);
      if (n > 0) at += static_cast<std::size_t>(n);
      if (n < 0 && !WouldBlock()) return;
      Turn();
    }
  }

  // What arrives until the server closes the connection or `done` holds.
  std::string Receive(const std::function<bool(const std::string&)>& done = {}) {
    for (int turn = 0; turn < kTurns && !closed_; ++turn) {
      if (done && done(received_)) break;
      Turn();
      char buffer[65536];
      const auto n = ::recv(fd_, buffer, sizeof buffer, 0);
      if (n > 0) {
        received_.append(buffer, static_cast<std::size_t>(n));
      } else if (n == 0 || !WouldBlock()) {
        closed_ = true;
      }
    }
    return received_;
  }

  // A whole response to one request: its head and as much body as it says.
  std::string ReceiveResponse() {
    return Receive([](const std::string& got) {
      const std::size_t head = got.find("\r\n\r\n");
      if (head == std::string::npos) return false;
      const std::size_t length = got.find("Content-Length: ");
      if (length == std::string::npos || length > head) return true;
      return got.size() >= head + 4 + std::stoul(got.substr(length + 16));
    });
  }

  bool Closed() const { return closed_; }
  void Turn() {
    if (poll_) poll_();
    WaitReadable(fd_, 5);
  }

 private:
  // An upper bound, so a server that never answers fails the test rather
  // than hanging it.
  static constexpr int kTurns = 2000;
  std::function<void()> poll_;
  web::SocketHandle fd_ = web::kNoSocket;
  std::string received_;
  bool closed_ = false;
};

inline int FreePort() {
  const web::SocketHandle fd = NewSocket();
  sockaddr_in at{};
  at.sin_family = AF_INET;
  at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(fd, reinterpret_cast<const sockaddr*>(&at), sizeof at);
  socklen_t size = sizeof at;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&at), &size);
  CloseSocket(fd);
  return ntohs(at.sin_port);
}

inline int StatusOf(const std::string& response) {
  if (response.compare(0, 9, "HTTP/1.1 ") != 0 || response.size() < 12) return 0;
  return std::stoi(response.substr(9, 3));
}

inline std::string BodyOf(const std::string& response) {
  const std::size_t head = response.find("\r\n\r\n");
  return head == std::string::npos ? "" : response.substr(head + 4);
}

}  // namespace web_test
