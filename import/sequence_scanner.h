#pragma once

#include <optional>
#include <string_view>

#include "import/sequence_reader.h"
#include "import/text_encoding.h"

namespace importer {

// The sequence document read in one pass over its bytes, without building a
// tree: what ReadSequenceDocument gives for a sound document, at the speed of
// scanning the file, in the memory of the file and its rows.
//
// It takes only the plain shape of XML that sequencers write (elements,
// attributes, text with the predefined entities and character references,
// comments, CDATA sections, the XML declaration) and declines everything
// else: a document type, processing instructions, a value element holding
// markup, anything malformed, and every document the full reader would
// refuse (a missing or bad value, nested Controller, Channel or TimeInterval
// elements). The full reader then reads the document and says what is wrong
// with it. So this never refuses anything itself, and what it accepts, it
// reads exactly as the full reader does.
//
// `bytes` is the document after its byte order mark, in `form`.
std::optional<SequenceDocument> ScanSequenceDocument(std::string_view bytes, ByteForm form);

}  // namespace importer
