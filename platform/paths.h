#pragma once

#include <string>

namespace platform {

// The separator the program joins its own paths with ("\" on Windows).
#ifdef _WIN32
inline constexpr char kPathSeparator = '\\';
#else
inline constexpr char kPathSeparator = '/';
#endif

// The directory of the running executable, without a trailing separator.
std::string ApplicationDirectory();

}  // namespace platform
