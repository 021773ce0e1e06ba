#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// Text helpers every part of the program shares. Text inside the program is
// a byte string in UTF-8; what arrives in another form (a Windows code page,
// UTF-16 from a registry file or a document) is turned into UTF-8 here, and
// only here.
namespace text {

// --- UTF-8 ---------------------------------------------------------------------

// Writes the UTF-8 form of `c` to `out` (room for 4) and returns its length.
std::size_t EncodeUtf8(char32_t c, char* out);
void AppendUtf8(std::string& out, char32_t c);
// Bytes EncodeUtf8 writes for `c`.
inline std::size_t Utf8Length(char32_t c) {
  return c < 0x80 ? 1 : c < 0x800 ? 2 : c < 0x10000 ? 3 : 4;
}

// --- 8-bit code pages -------------------------------------------------------------
//
// A hand table rather than iconv: glibc's CP1252 refuses the five bytes the
// code page leaves unassigned (0x81, 0x8D, 0x8F, 0x90, 0x9D), which Windows
// itself passes through as the C1 controls of the same value, so the table
// would be needed for those anyway; and thirty-two entries need no converter
// state, no gconv modules on the machine and no error path.

// The character of a windows-1252 byte.
char32_t FromWindows1252(unsigned char byte);
// The character of an ISO-8859-15 (Latin-9) byte.
char32_t FromLatin9(unsigned char byte);

// --- UTF-16 and UTF-32 -------------------------------------------------------------

// UTF-16 code units to UTF-8. An unpaired surrogate becomes U+FFFD: a title
// with one broken character is better than a refused file.
std::string Utf16ToUtf8(std::u16string_view units);

// UTF-16 or UTF-32 text held as bytes (`unitSize` 2 or 4) to UTF-8. Malformed
// units, and odd bytes left over at the end, become U+FFFD.
std::string WideBytesToUtf8(std::string_view bytes, int unitSize, bool bigEndian);

// --- names from outside ------------------------------------------------------------

// `text` as it may be shown in a message or a line of a report: valid UTF-8
// stays as it is; control characters (line breaks, terminal escapes, C1
// controls) and bytes that are not UTF-8 become \xNN, so a name can neither
// forge a line of its own nor drive the terminal that shows it.
std::string Escaped(std::string_view text);

// --- letter case ------------------------------------------------------------------
//
// Names in files (registry keys, sort texts, command switches) are compared
// as Windows compares them: ASCII letters only, whatever the locale of the
// process says (Qt sets one).

inline char AsciiLower(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}
std::string AsciiLower(std::string_view text);
bool EqualsIgnoringAsciiCase(std::string_view a, std::string_view b);

}  // namespace text
