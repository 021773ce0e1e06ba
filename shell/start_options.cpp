#include "shell/start_options.h"

#include <string_view>

namespace shell {
namespace {

bool Set(const char* value) {
  return value != nullptr && value[0] != '\0';
}

}  // namespace

std::string HelpText(const std::string& dataFolder, bool installed) {
  std::string text =
      "Usage: glimmerfield [--help] [--version]\n"
      "The window of the Glimmerfield light-show player: import sequence archives into a\n"
      "playlist and play it every evening inside a daily time window, driving the lighting\n"
      "controllers on a serial line in step with the music.\n"
      "\n"
      "Options:\n"
      "  --help     print this help and exit\n"
      "  --version  print the version and exit\n"
      "\n"
      "The window needs a display (DISPLAY or WAYLAND_DISPLAY); without one it says so\n"
      "and exits with status 1. 'glimmer show' runs the saved show without a window.\n"
      "\n"
      "Files: preferences.txt, playlist.txt, Cache/, Temp/ and show.log are kept in\n  ";
  text += dataFolder;
  text += installed ? "\n(the installed player's data folder: $XDG_DATA_HOME/glimmerfield, else\n"
                      "~/.local/share/glimmerfield; removing the package leaves it in place).\n"
                    : "\n(beside the program, as this copy is not the installed one).\n";
  return text;
}

std::optional<std::string> NoDisplayMessage(const char* display, const char* waylandDisplay,
                                            const char* qpaPlatform) {
  // Without a chosen plugin Qt picks the desktop's: X11 or Wayland. A list
  // such as "wayland;xcb" needs either of them.
  const std::string_view platform = Set(qpaPlatform) ? qpaPlatform : "wayland;xcb";
  const bool wantsX = platform.find("xcb") != std::string_view::npos;
  const bool wantsWayland = platform.find("wayland") != std::string_view::npos;
  if (!wantsX && !wantsWayland) return std::nullopt;
  if ((wantsX && Set(display)) || (wantsWayland && Set(waylandDisplay))) return std::nullopt;
  return std::string(
      "glimmerfield: no display to open the window on (DISPLAY and WAYLAND_DISPLAY are not "
      "set); 'glimmer show' runs the show without a window");
}

}  // namespace shell
