#pragma once

#include <optional>
#include <string>

namespace shell {

// What `glimmerfield --help` prints: the manual page is made from it.
// `dataFolder` is where this copy keeps its files, `installed` whether it is
// the package's copy.
std::string HelpText(const std::string& dataFolder, bool installed);

// The one line the player prints, before Qt is started, when it has no display
// to open its window on: Qt itself would abort with advice that does not fit.
// The arguments are the environment's DISPLAY, WAYLAND_DISPLAY and
// QT_QPA_PLATFORM, each null when unset. A platform plugin chosen by name that
// needs no display (offscreen, vnc, ...) is left to Qt.
std::optional<std::string> NoDisplayMessage(const char* display, const char* waylandDisplay,
                                            const char* qpaPlatform);

}  // namespace shell
