#include <cstdio>

#include "tools/glimmer/commands.h"

namespace glimmer {

int RunDump(const std::vector<std::string>&) {
  std::fprintf(stderr, "glimmer dump: not available in this build\n");
  return 1;
}

}  // namespace glimmer
