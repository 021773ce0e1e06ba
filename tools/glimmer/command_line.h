#pragma once

#include <CLI/CLI.hpp>
#include <optional>
#include <string>
#include <vector>

namespace glimmer {

// Parses one sub-command's arguments with `app`, whose options and operands
// the caller has declared. Our own help text stands in for the library's.
// Returns the exit status when the command ends here: 0 after --help printed
// `usage` to standard output (or --version the version), 1 after a mistake was printed to standard
// error ("glimmer COMMAND: what is wrong" and where to find the options).
// Nothing when the command goes on.
std::optional<int> ParseArguments(CLI::App& app, const std::string& command, const char* usage,
                                  const std::vector<std::string>& args);

// Accepts a whole number from `low` to `high`, written in decimal.
CLI::Validator WholeNumberIn(int low, int high);

// Accepts a line rate the controllers take (56000, 115200); any other is
// refused with the show's own words.
CLI::Validator LineRateIn();

}  // namespace glimmer
