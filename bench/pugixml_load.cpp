// pugixml's bare load of a document, as its own small program: the yardstick
// bench_import_speed sets the whole `glimmer compile` command against. It
// links pugixml alone, so its start-up is as light as a program's can be,
// and it ends without freeing the document, as a program that exits does.
#include <cstdio>
#include <cstdlib>
#include <pugixml.hpp>

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "Usage: bench_pugixml_load DOCUMENT\n");
    return 2;
  }
  pugi::xml_document doc;
  const pugi::xml_parse_result result = doc.load_file(argv[1]);
  if (!result) {
    std::fprintf(stderr, "%s: %s\n", argv[1], result.description());
    return 1;
  }
  std::_Exit(0);
}
