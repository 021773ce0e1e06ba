#include "tools/glimmer/command_line.h"

#include <algorithm>
#include <charconv>
#include <cstdio>

#include "playback/show_front_end.h"

namespace glimmer {

std::optional<int> ParseArguments(CLI::App& app, const std::string& command, const char* usage,
                                  const std::vector<std::string>& args) {
  // Help wins over everything else on the line, a missing operand included.
  if (std::find_if(args.begin(), args.end(),
                   [](const std::string& a) { return a == "--help" || a == "-h"; }) != args.end()) {
    std::fputs(usage, stdout);
    return 0;
  }
  if (std::find(args.begin(), args.end(), "--version") != args.end()) {
    std::printf("glimmer %s\n", GLIMMER_VERSION);
    return 0;
  }
  app.set_help_flag();
  app.allow_extras(false);
  // The library takes the arguments last first.
  std::vector<std::string> reversed(args.rbegin(), args.rend());
  try {
    app.parse(reversed);
  } catch (const CLI::ParseError& e) {
    std::fprintf(stderr, "glimmer %s: %s\nRun 'glimmer %s --help' for its options.\n",
                 command.c_str(), e.what(), command.c_str());
    return 1;
  }
  return std::nullopt;
}

CLI::Validator WholeNumberIn(int low, int high) {
  const std::string range = std::to_string(low) + " to " + std::to_string(high);
  return CLI::Validator(
      [low, high, range](std::string& text) -> std::string {
        int value = 0;
        const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
        if (ec != std::errc() || end != text.data() + text.size() || value < low || value > high) {
          return "needs a whole number from " + range + ", not '" + text + "'";
        }
        return {};
      },
      "N");
}

CLI::Validator LineRateIn() {
  return CLI::Validator(
      [](std::string& text) -> std::string {
        const platform::Result<int> rate = playback::ParseLineRate(text);
        return rate ? std::string() : rate.message();
      },
      "56000|115200");
}

}  // namespace glimmer
