// The archiver the import runs: glimmer-extract X -o+ <archive> <destination>.
#include <clocale>
#include <iostream>
#include <string>
#include <vector>

#include "tools/extractor/extract.h"

int main(int argc, char** argv) {
  // Entry names are converted to the user's character set.
  std::setlocale(LC_ALL, "");
  const std::vector<std::string> args(argv + 1, argv + argc);
  return extractor::RunExtractor(args, std::cout, std::cerr);
}
