#pragma once

#include <QString>
#include <string>
#include <string_view>

namespace platform::qt {

// The program holds text as bytes. Files written by older Windows tools are in
// Windows-1252, newer ones in UTF-8; a byte string that is valid UTF-8 is read
// as UTF-8, anything else as Windows-1252 so no byte is ever lost or replaced.
QString ToQString(std::string_view bytes);

// Texts coming back from Qt (a chosen path) are UTF-8, as Linux file names are.
std::string FromQString(const QString& text);

}  // namespace platform::qt
