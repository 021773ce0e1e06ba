#include "import/text_encoding.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <utility>

namespace importer {
namespace {

// windows-1252 differs from ISO-8859-1 only in 0x80..0x9F. The five bytes the
// code page leaves undefined map to the C1 controls of the same value, as
// Windows itself converts them.
constexpr std::array<char32_t, 32> kWindows1252High = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,  // 80
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,  // 88
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 90
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,  // 98
};

void AppendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

char32_t Windows1252Char(unsigned char b) {
  if (b >= 0x80 && b < 0xA0) return kWindows1252High[b - 0x80];
  return b;
}

char32_t Latin9Char(unsigned char b) {
  switch (b) {
    case 0xA4:
      return 0x20AC;
    case 0xA6:
      return 0x0160;
    case 0xA8:
      return 0x0161;
    case 0xB4:
      return 0x017D;
    case 0xB8:
      return 0x017E;
    case 0xBC:
      return 0x0152;
    case 0xBD:
      return 0x0153;
    case 0xBE:
      return 0x0178;
    default:
      return b;
  }
}

template <typename Map>
std::string EightBitToUtf8(std::string_view bytes, Map map) {
  std::string out;
  out.reserve(bytes.size() + bytes.size() / 8);
  for (const char ch : bytes) {
    const auto b = static_cast<unsigned char>(ch);
    if (b < 0x80) {
      out += ch;
    } else {
      AppendUtf8(out, map(b));
    }
  }
  return out;
}

bool IsAscii(std::string_view bytes) {
  return std::all_of(bytes.begin(), bytes.end(),
                     [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

enum class WideForm { kUtf16Le, kUtf16Be, kUtf32Le, kUtf32Be };

char32_t ReadUnit(const std::string& bytes, std::size_t i, int size, bool bigEndian) {
  char32_t value = 0;
  for (int k = 0; k < size; ++k) {
    const auto b = static_cast<unsigned char>(bytes[i + static_cast<std::size_t>(k)]);
    const int shift = bigEndian ? 8 * (size - 1 - k) : 8 * k;
    value |= static_cast<char32_t>(b) << shift;
  }
  return value;
}

// Malformed sequences become U+FFFD: a title with one broken character is
// better than a refused import.
std::string WideToUtf8(const std::string& bytes, std::size_t start, WideForm form) {
  constexpr char32_t kReplacement = 0xFFFD;
  const bool bigEndian = form == WideForm::kUtf16Be || form == WideForm::kUtf32Be;
  const int unit = (form == WideForm::kUtf16Le || form == WideForm::kUtf16Be) ? 2 : 4;
  std::string out;
  out.reserve((bytes.size() - start) / static_cast<std::size_t>(unit));
  std::size_t i = start;
  const auto u = static_cast<std::size_t>(unit);
  while (i + u <= bytes.size()) {
    char32_t c = ReadUnit(bytes, i, unit, bigEndian);
    i += u;
    if (unit == 2 && c >= 0xD800 && c < 0xDC00) {
      if (i + 2 <= bytes.size()) {
        const char32_t low = ReadUnit(bytes, i, 2, bigEndian);
        if (low >= 0xDC00 && low < 0xE000) {
          i += 2;
          c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
        } else {
          c = kReplacement;
        }
      } else {
        c = kReplacement;
      }
    } else if ((c >= 0xD800 && c < 0xE000) || c > 0x10FFFF) {
      c = kReplacement;
    }
    AppendUtf8(out, c);
  }
  if (i < bytes.size()) AppendUtf8(out, kReplacement);
  return out;
}

bool StartsWith(const std::string& bytes, std::string_view prefix) {
  return bytes.size() >= prefix.size() &&
         std::string_view(bytes).substr(0, prefix.size()) == prefix;
}

std::string Lower(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

bool IsXmlSpace(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

enum class EightBit { kUtf8, kWindows1252, kLatin9, kUnknown };

EightBit ClassifyEncoding(std::string_view declared) {
  const std::string name = Lower(declared);
  constexpr std::string_view kUtf8Names[] = {"", "utf-8", "utf8",
                                             // A document that says UTF-16 but is 8-bit
                                             // shaped was saved by a tool that lied; its
                                             // bytes are the best guide.
                                             "utf-16", "utf-16le", "utf-16be", "unicode"};
  constexpr std::string_view kWindows1252Names[] = {
      "windows-1252", "cp1252",      "x-cp1252", "cp-1252", "iso-8859-1", "iso8859-1",
      "iso_8859-1",   "iso-ir-100",  "latin1",   "latin-1", "l1",         "cp819",
      "ibm819",       "csisolatin1", "us-ascii", "ascii",   "iso-646-us", "ansi_x3.4-1968"};
  constexpr std::string_view kLatin9Names[] = {"iso-8859-15", "iso8859-15", "iso_8859-15",
                                               "latin-9",     "latin9",     "l9"};
  auto in = [&](const auto& names) {
    return std::find(std::begin(names), std::end(names), name) != std::end(names);
  };
  if (in(kUtf8Names)) return EightBit::kUtf8;
  if (in(kWindows1252Names)) return EightBit::kWindows1252;
  if (in(kLatin9Names)) return EightBit::kLatin9;
  return EightBit::kUnknown;
}

}  // namespace

std::string Windows1252ToUtf8(std::string_view bytes) {
  return EightBitToUtf8(bytes, Windows1252Char);
}

std::string Latin9ToUtf8(std::string_view bytes) {
  return EightBitToUtf8(bytes, Latin9Char);
}

std::string DeclaredXmlEncoding(std::string_view bytes) {
  if (bytes.substr(0, 3) == "\xEF\xBB\xBF") bytes.remove_prefix(3);
  if (bytes.substr(0, 5) != "<?xml" || bytes.size() < 6 || !IsXmlSpace(bytes[5])) return {};
  const auto end = bytes.find("?>");
  if (end == std::string_view::npos) return {};
  const std::string_view decl = bytes.substr(5, end - 5);
  std::size_t at = 0;
  while ((at = decl.find("encoding", at)) != std::string_view::npos) {
    // Only a whole pseudo-attribute name counts, not "xencoding".
    if (at > 0 && !IsXmlSpace(decl[at - 1])) {
      at += 8;
      continue;
    }
    std::size_t i = at + 8;
    while (i < decl.size() && IsXmlSpace(decl[i])) ++i;
    if (i >= decl.size() || decl[i] != '=') return {};
    ++i;
    while (i < decl.size() && IsXmlSpace(decl[i])) ++i;
    if (i >= decl.size() || (decl[i] != '"' && decl[i] != '\'')) return {};
    const char quote = decl[i];
    const auto close = decl.find(quote, i + 1);
    if (close == std::string_view::npos) return {};
    return std::string(decl.substr(i + 1, close - i - 1));
  }
  return {};
}

platform::Result<std::string> XmlDocumentToUtf8(std::string bytes) {
  using R = platform::Result<std::string>;
  // Byte order marks first; UTF-32 LE must be tested before UTF-16 LE.
  if (StartsWith(bytes, "\xEF\xBB\xBF")) {
    bytes.erase(0, 3);
    return R(std::move(bytes));
  }
  if (StartsWith(bytes, std::string_view("\xFF\xFE\0\0", 4))) {
    return R(WideToUtf8(bytes, 4, WideForm::kUtf32Le));
  }
  if (StartsWith(bytes, std::string_view("\0\0\xFE\xFF", 4))) {
    return R(WideToUtf8(bytes, 4, WideForm::kUtf32Be));
  }
  if (StartsWith(bytes, "\xFF\xFE")) return R(WideToUtf8(bytes, 2, WideForm::kUtf16Le));
  if (StartsWith(bytes, "\xFE\xFF")) return R(WideToUtf8(bytes, 2, WideForm::kUtf16Be));
  // No mark: the shape of "<" tells the width.
  if (StartsWith(bytes, std::string_view("<\0\0\0", 4))) {
    return R(WideToUtf8(bytes, 0, WideForm::kUtf32Le));
  }
  if (StartsWith(bytes, std::string_view("\0\0\0<", 4))) {
    return R(WideToUtf8(bytes, 0, WideForm::kUtf32Be));
  }
  if (StartsWith(bytes, std::string_view("<\0", 2))) {
    return R(WideToUtf8(bytes, 0, WideForm::kUtf16Le));
  }
  if (StartsWith(bytes, std::string_view("\0<", 2))) {
    return R(WideToUtf8(bytes, 0, WideForm::kUtf16Be));
  }

  const std::string declared = DeclaredXmlEncoding(bytes);
  switch (ClassifyEncoding(declared)) {
    case EightBit::kUtf8:
      return R(std::move(bytes));
    case EightBit::kWindows1252:
      if (IsAscii(bytes)) return R(std::move(bytes));
      return R(Windows1252ToUtf8(bytes));
    case EightBit::kLatin9:
      if (IsAscii(bytes)) return R(std::move(bytes));
      return R(Latin9ToUtf8(bytes));
    case EightBit::kUnknown:
      if (IsAscii(bytes)) return R(std::move(bytes));
      break;
  }
  return R::Error("it declares the text encoding \"" + declared +
                  "\", which this program cannot read (save it as UTF-8 or windows-1252)");
}

}  // namespace importer
