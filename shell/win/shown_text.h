#pragma once

#include <string>

namespace shell::win {

// Texts as the program holds them (UTF-8, or the sequencer's Windows-1252
// where the bytes are not UTF-8, as in an old playlist's title) in the
// controls' wide characters.
std::wstring DisplayText(const std::string& bytes);
// The same, with the program's "\n" line breaks as a control shows them.
std::wstring ShownText(const std::string& text);

}  // namespace shell::win
