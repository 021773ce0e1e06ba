#include <cstdio>

#include "tools/glimmer/commands.h"

namespace glimmer {

int RunPlay(const std::vector<std::string>&) {
  std::fprintf(stderr, "glimmer play: not available in this build\n");
  return 1;
}

}  // namespace glimmer
