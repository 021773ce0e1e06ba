#include "text/text.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string Utf8(char32_t c) {
  std::string out;
  text::AppendUtf8(out, c);
  return out;
}

TEST(Text, EncodesEveryUtf8Length) {
  const std::pair<char32_t, std::string> cases[] = {
      {U'A', "A"},
      {0xE9, "\xC3\xA9"},
      {0x7FF, "\xDF\xBF"},
      {0x20AC, "\xE2\x82\xAC"},
      {0xFFFD, "\xEF\xBF\xBD"},
      {0x1F3B5, "\xF0\x9F\x8E\xB5"},
  };
  for (const auto& [c, bytes] : cases) {
    EXPECT_EQ(Utf8(c), bytes) << static_cast<unsigned>(c);
    EXPECT_EQ(text::Utf8Length(c), bytes.size()) << static_cast<unsigned>(c);
  }
}

// The bytes Windows leaves unassigned in its code page pass through as C1
// controls, where glibc's converter would refuse them.
TEST(Text, ReadsWindows1252AndLatin9AsWindowsDoes) {
  const std::tuple<unsigned char, char32_t, char32_t> cases[] = {
      // byte, windows-1252, Latin-9
      {0x41, U'A', U'A'},   {0x80, 0x20AC, 0x80}, {0x81, 0x81, 0x81},   {0x8D, 0x8D, 0x8D},
      {0x8F, 0x8F, 0x8F},   {0x90, 0x90, 0x90},   {0x9D, 0x9D, 0x9D},   {0x96, 0x2013, 0x96},
      {0x9F, 0x0178, 0x9F}, {0xA4, 0xA4, 0x20AC}, {0xBD, 0xBD, 0x0153}, {0xE9, 0xE9, 0xE9},
  };
  for (const auto& [byte, windows, latin9] : cases) {
    EXPECT_EQ(text::FromWindows1252(byte), windows) << static_cast<int>(byte);
    EXPECT_EQ(text::FromLatin9(byte), latin9) << static_cast<int>(byte);
  }
}

TEST(Text, DecodesUtf16AndUtf32WithReplacementForBrokenUnits) {
  struct Case {
    const char* name;
    std::string bytes;
    int unit;
    bool bigEndian;
    std::string utf8;
  };
  using namespace std::string_literals;
  const Case cases[] = {
      {"16 LE", "C\0\xE9\0"s, 2, false, "C\xC3\xA9"},
      {"16 BE", "\0C\0\xE9"s, 2, true, "C\xC3\xA9"},
      {"16 pair", "\x3C\xD8\xB5\xDF"s, 2, false, "\xF0\x9F\x8E\xB5"},
      // Octal escapes end after three digits: "\330A" is D8 41.
      {"16 lone high", "\x3C\330A\0"s, 2, false, "\xEF\xBF\275A"},
      {"16 lone low", "\xB5\xDF"s, 2, false, "\xEF\xBF\xBD"},
      {"16 odd byte", "A\0B"s, 2, false, "A\xEF\xBF\xBD"},
      {"32 LE", "\xB5\xF3\x01\0"s, 4, false, "\xF0\x9F\x8E\xB5"},
      {"32 BE", "\0\0\0A"s, 4, true, "A"},
      {"32 too large", "\0\0\x11\0"s, 4, false, "\xEF\xBF\xBD"},
      {"32 surrogate", "\0\xD8\0\0"s, 4, false, "\xEF\xBF\xBD"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(text::WideBytesToUtf8(c.bytes, c.unit, c.bigEndian), c.utf8) << c.name;
  }
  EXPECT_EQ(text::Utf16ToUtf8(u"Caf\u00e9 \U0001F3B5"), "Caf\xC3\xA9 \xF0\x9F\x8E\xB5");
}

// Only ASCII letters fold: the bytes of a UTF-8 or code-page letter are never
// changed, whatever locale the process runs in.
TEST(Text, ComparesAsciiLettersOnlyWithoutRegardToCase) {
  const std::tuple<std::string, std::string, bool> cases[] = {
      {"Software\\WinRAR", "SOFTWARE\\winrar", true},
      {"asc", "ASC", true},
      {"asc", "as", false},
      {"\xC9", "\xE9", false},
      {"\xC3\x89", "\xC3\xA9", false},
      {"[", "{", false},
      {"", "", true},
  };
  for (const auto& [a, b, equal] : cases) {
    EXPECT_EQ(text::EqualsIgnoringAsciiCase(a, b), equal) << a << " / " << b;
  }
  EXPECT_EQ(text::AsciiLower("WinRAR \xC9tude"), "winrar \xC9tude");
}

}  // namespace

TEST(Text, EscapedNamesCannotForgeLinesOrDriveTheTerminal) {
  const struct {
    std::string in;
    std::string shown;
  } cases[] = {
      {"Carol.xml", "Carol.xml"},
      {"No\xC3\xABl", "No\xC3\xABl"},  // UTF-8 stays
      {"a\nglimmer-extract: 9 files", "a\\x0Aglimmer-extract: 9 files"},
      {"\x1B[2Jx", "\\x1B[2Jx"},            // terminal escape
      {"\302\23331m", "\\xC2\\x9B31m"},     // C1 CSI, in octal escapes
      {"No\xEBl", "No\\xEBl"},              // windows-1252, not UTF-8
      {"\xC0\xAF", "\\xC0\\xAF"},           // overlong "/"
      {"\xED\xA0\x80", "\\xED\\xA0\\x80"},  // surrogate
      {"x\x7F", "x\\x7F"},
      {"C:\\Shows\\a.msq", "C:\\Shows\\a.msq"},
  };
  for (const auto& c : cases) EXPECT_EQ(text::Escaped(c.in), c.shown) << c.in;
}
