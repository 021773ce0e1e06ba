#include <cstdio>

#include "tools/glimmer/commands.h"

namespace glimmer {

int RunMonitor(const std::vector<std::string>&) {
  std::fprintf(stderr, "glimmer monitor: not available in this build\n");
  return 1;
}

}  // namespace glimmer
