#include <cstdio>

#include "tools/glimmer/commands.h"

namespace glimmer {

int RunCompile(const std::vector<std::string>&) {
  std::fprintf(stderr, "glimmer compile: not available in this build\n");
  return 1;
}

}  // namespace glimmer
