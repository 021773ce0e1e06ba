#pragma once

#include <string>
#include <string_view>

#include "platform/status.h"

namespace importer {

// Sequence documents come from a Windows product and are often written in an
// 8-bit code page; the rest of the program holds text as UTF-8 (the window
// shows byte strings as UTF-8). These turn a whole document into UTF-8 before
// it is parsed, so titles, artists and paths arrive readable.

// The value of the encoding="..." pseudo-attribute of the XML declaration at
// the start of `bytes`, as written; empty when there is no declaration or it
// names no encoding.
std::string DeclaredXmlEncoding(std::string_view bytes);

// The whole document as UTF-8, without a byte order mark. The encoding comes
// from the byte order mark, the byte pattern of "<?" (UTF-16, UTF-32), or the
// declaration. Understood 8-bit encodings: windows-1252, ISO-8859-1 (read as
// windows-1252, as browsers do: documents labelled Latin-1 in practice hold
// windows-1252 punctuation), ISO-8859-15 and US-ASCII. A document that
// declares another encoding is accepted only when it is plain ASCII; otherwise
// the error names the encoding.
platform::Result<std::string> XmlDocumentToUtf8(std::string bytes);

std::string Windows1252ToUtf8(std::string_view bytes);
std::string Latin9ToUtf8(std::string_view bytes);

}  // namespace importer
