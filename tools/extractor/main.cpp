// The archiver the import runs: glimmer-extract X -o+ <archive> <destination>.
#ifndef _WIN32
#include <langinfo.h>
#endif

#include <clocale>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include "tools/extractor/extract.h"

int main(int argc, char** argv) {
  // Entry names are written in UTF-8, the program's own form of text, whatever
  // the user's locale: under LANG=C a name that is not ASCII could not be
  // converted at all, and would not match the archive's own name.
  // On Windows the program's manifest makes UTF-8 the code page of every
  // narrow call, the arguments and libarchive's names included.
#ifndef _WIN32
  std::setlocale(LC_ALL, "");
  if (std::strcmp(nl_langinfo(CODESET), "UTF-8") != 0) std::setlocale(LC_CTYPE, "C.UTF-8");
#endif
  if (!extractor::EndWithParent()) return 1;
  const std::vector<std::string> args(argv + 1, argv + argc);
  return extractor::RunExtractor(args, std::cout, std::cerr);
}
