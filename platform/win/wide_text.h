#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// The edges between the program's UTF-8 text and Windows' UTF-16 calls.
namespace platform::win {

// UTF-8 to UTF-16 for a wide call. Bytes that are not UTF-8 become U+FFFD,
// so a damaged name still reaches the call and fails there with its reason.
std::wstring Widen(std::string_view utf8);
// UTF-16 from a wide call back to UTF-8; a lone surrogate becomes U+FFFD.
std::string Narrow(std::wstring_view utf16);

// The system's text for an error code (GetLastError, WSAGetLastError),
// without its line end and full stop: "The system cannot find the file specified"
std::string SystemMessage(std::uint32_t code);
// The same for the calling thread's last error.
std::string LastErrorMessage();

}  // namespace platform::win
