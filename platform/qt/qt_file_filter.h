#pragma once

#include <QString>
#include <string>

namespace platform::qt {

// Turns a Windows common-dialog filter, description and pattern pairs joined
// by "|" ("WAV Files (*.wav) | *.wav| MP3 Files (*.mp3) | *.mp3"), into
// Qt's form ("WAV Files (*.wav);;MP3 Files (*.mp3)"). Qt reads the patterns
// from the parentheses at the end of each entry, so the pattern is put there
// (";" separated Windows patterns become blank separated).
QString ToQtFileFilter(const std::string& windowsFilter);

}  // namespace platform::qt
