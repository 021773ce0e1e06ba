#include "web/phone_link.h"

#ifndef _WIN32
#include <arpa/inet.h>
#include <ifaddrs.h>
#include <netinet/in.h>
#endif

#include <algorithm>

namespace web {

std::vector<std::string> LanAddresses() {
  std::vector<std::string> found;
#ifdef _WIN32
  // The server's own list of the machine's names holds its addresses too.
  for (const std::string& name : MachineHostNames("")) {
    const bool ipv4 = name.find_first_not_of("0123456789.") == std::string::npos &&
                      std::count(name.begin(), name.end(), '.') == 3;
    if (ipv4 && !name.starts_with("127.")) found.push_back(name);
  }
  return found;
#else
  ifaddrs* list = nullptr;
  if (::getifaddrs(&list) != 0) return found;
  for (ifaddrs* i = list; i != nullptr; i = i->ifa_next) {
    if (i->ifa_addr == nullptr || i->ifa_addr->sa_family != AF_INET) continue;
    const auto* v4 = reinterpret_cast<const sockaddr_in*>(i->ifa_addr);
    if ((ntohl(v4->sin_addr.s_addr) >> 24) == 127) continue;
    char text[INET_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET, &v4->sin_addr, text, sizeof text);
    found.emplace_back(text);
  }
  ::freeifaddrs(list);
  return found;
#endif
}

std::string PhoneAddress(const ListenAddress& address) {
  std::string host = address.host;
  if (host == "0.0.0.0") {
    const std::vector<std::string> lan = LanAddresses();
    host = lan.empty() ? "127.0.0.1" : lan.front();
  }
  return "http://" + host + ":" + std::to_string(address.port) + "/";
}

std::string ReadyLink(const ListenAddress& address, const std::string& token) {
  const std::string page = PhoneAddress(address);
  return token.empty() ? page : page + "#token=" + token;
}

bool LoopbackOnly(const ListenAddress& address) {
  return address.host.starts_with("127.") || address.host == "localhost" || address.host == "::1";
}

}  // namespace web
