#pragma once

#include <string>
#include <vector>

#include "web/web_server.h"

namespace web {

// The machine's IPv4 addresses other than the loopback, where a phone on
// the LAN reaches it.
std::vector<std::string> LanAddresses();

// "http://HOST:PORT/", the page's address as a phone opens it: the first of
// the machine's LAN addresses when the page listens on all of them (the
// loopback when it has none).
std::string PhoneAddress(const ListenAddress& address);

// The link that opens the page with its token ("...#token=TOKEN"; the
// address alone without a token). The part after '#' never leaves the
// phone.
std::string ReadyLink(const ListenAddress& address, const std::string& token);

// Whether only this machine reaches the page at `address`: no phone does.
bool LoopbackOnly(const ListenAddress& address);

}  // namespace web
