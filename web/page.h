#pragma once

#include <string_view>

namespace web {

// The phone page: HTML, CSS and script in one, built into the program, so
// no path of a request ever reaches the file system.
extern const std::string_view kPage;

}  // namespace web
