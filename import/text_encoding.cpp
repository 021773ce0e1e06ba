#include "import/text_encoding.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
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

// Writes the UTF-8 form of `c` to `out` (room for 4) and returns its length.
std::size_t EncodeUtf8(char32_t c, char* out) {
  if (c < 0x80) {
    out[0] = static_cast<char>(c);
    return 1;
  }
  if (c < 0x800) {
    out[0] = static_cast<char>(0xC0 | (c >> 6));
    out[1] = static_cast<char>(0x80 | (c & 0x3F));
    return 2;
  }
  if (c < 0x10000) {
    out[0] = static_cast<char>(0xE0 | (c >> 12));
    out[1] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out[2] = static_cast<char>(0x80 | (c & 0x3F));
    return 3;
  }
  out[0] = static_cast<char>(0xF0 | (c >> 18));
  out[1] = static_cast<char>(0x80 | ((c >> 12) & 0x3F));
  out[2] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
  out[3] = static_cast<char>(0x80 | (c & 0x3F));
  return 4;
}

void AppendUtf8(std::string& out, char32_t c) {
  char bytes[4];
  out.append(bytes, EncodeUtf8(c, bytes));
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

std::size_t Utf8Length(char32_t c) {
  return c < 0x80 ? 1 : c < 0x800 ? 2 : c < 0x10000 ? 3 : 4;
}

constexpr std::uint64_t kHighBits = 0x8080808080808080ull;

// Index of the first byte at or after `from` with its high bit set, or the
// size. Eight bytes at a time: documents are almost all ASCII.
std::size_t NextHighByte(std::string_view bytes, std::size_t from) {
  std::size_t i = from;
  while (i + 8 <= bytes.size()) {
    std::uint64_t word;
    std::memcpy(&word, bytes.data() + i, 8);
    if (word & kHighBits) break;
    i += 8;
  }
  while (i < bytes.size() && static_cast<unsigned char>(bytes[i]) < 0x80) ++i;
  return i;
}

// One past the index of the last byte before `end` with its high bit set, or
// 0 when there is none.
std::size_t PreviousHighByteEnd(const char* bytes, std::size_t end) {
  std::size_t i = end;
  while (i >= 8) {
    std::uint64_t word;
    std::memcpy(&word, bytes + i - 8, 8);
    if (word & kHighBits) break;
    i -= 8;
  }
  while (i > 0 && static_cast<unsigned char>(bytes[i - 1]) < 0x80) --i;
  return i;
}

bool IsAscii(std::string_view bytes) {
  return NextHighByte(bytes, 0) == bytes.size();
}

template <typename Map>
std::size_t Utf8Size(std::string_view bytes, Map map) {
  std::size_t size = bytes.size();
  for (std::size_t i = NextHighByte(bytes, 0); i < bytes.size(); i = NextHighByte(bytes, i + 1)) {
    size += Utf8Length(map(static_cast<unsigned char>(bytes[i]))) - 1;
  }
  return size;
}

// Rewrites an 8-bit text as UTF-8 within its own buffer, from the back, so
// nothing is overwritten before it is read (the text only grows). Runs of
// ASCII move as blocks.
template <typename Map>
void ExpandToUtf8(ByteBuffer& buffer, std::size_t utf8Size, Map map) {
  char* data = buffer.data();
  std::size_t read = buffer.size();
  std::size_t write = utf8Size;
  while (read > 0) {
    const std::size_t runStart = PreviousHighByteEnd(data, read);
    const std::size_t run = read - runStart;
    write -= run;
    std::memmove(data + write, data + runStart, run);
    read = runStart;
    if (read == 0) break;
    char encoded[4];
    const std::size_t n = EncodeUtf8(map(static_cast<unsigned char>(data[read - 1])), encoded);
    write -= n;
    std::memcpy(data + write, encoded, n);
    --read;
  }
  buffer.SetSize(utf8Size);
}

template <typename Map>
void EightBitToUtf8(ByteBuffer& buffer, Map map) {
  const std::size_t utf8Size = Utf8Size(buffer.view(), map);
  if (utf8Size > buffer.capacity()) {
    ByteBuffer larger(utf8Size);
    std::memcpy(larger.data(), buffer.data(), buffer.size());
    larger.SetSize(buffer.size());
    buffer = std::move(larger);
  }
  ExpandToUtf8(buffer, utf8Size, map);
}

void Replace(ByteBuffer& buffer, const std::string& text) {
  if (text.size() > buffer.capacity()) buffer = ByteBuffer(text.size());
  std::memcpy(buffer.data(), text.data(), text.size());
  buffer.SetSize(text.size());
}

enum class WideForm { kUtf16Le, kUtf16Be, kUtf32Le, kUtf32Be };

char32_t ReadUnit(std::string_view bytes, std::size_t i, int size, bool bigEndian) {
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
std::string WideToUtf8(std::string_view bytes, std::size_t start, WideForm form) {
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

bool StartsWith(std::string_view bytes, std::string_view prefix) {
  return bytes.substr(0, prefix.size()) == prefix;
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

platform::Status XmlDocumentToUtf8(ByteBuffer& buffer) {
  const std::string_view bytes = buffer.view();
  // Byte order marks first; UTF-32 LE must be tested before UTF-16 LE.
  struct Wide {
    std::string_view start;
    std::size_t skip;
    WideForm form;
  };
  static const Wide kWide[] = {
      {std::string_view("\xFF\xFE\0\0", 4), 4, WideForm::kUtf32Le},
      {std::string_view("\0\0\xFE\xFF", 4), 4, WideForm::kUtf32Be},
      {"\xFF\xFE", 2, WideForm::kUtf16Le},
      {"\xFE\xFF", 2, WideForm::kUtf16Be},
      // No mark: the shape of "<" tells the width.
      {std::string_view("<\0\0\0", 4), 0, WideForm::kUtf32Le},
      {std::string_view("\0\0\0<", 4), 0, WideForm::kUtf32Be},
      {std::string_view("<\0", 2), 0, WideForm::kUtf16Le},
      {std::string_view("\0<", 2), 0, WideForm::kUtf16Be},
  };
  if (StartsWith(bytes, "\xEF\xBB\xBF")) {
    std::memmove(buffer.data(), buffer.data() + 3, bytes.size() - 3);
    buffer.SetSize(bytes.size() - 3);
    return platform::Status::Ok();
  }
  for (const Wide& w : kWide) {
    if (StartsWith(bytes, w.start)) {
      Replace(buffer, WideToUtf8(bytes, w.skip, w.form));
      return platform::Status::Ok();
    }
  }

  const std::string declared = DeclaredXmlEncoding(bytes);
  const EightBit encoding = ClassifyEncoding(declared);
  if (encoding == EightBit::kUtf8 || IsAscii(bytes)) return platform::Status::Ok();
  switch (encoding) {
    case EightBit::kWindows1252:
      EightBitToUtf8(buffer, Windows1252Char);
      return platform::Status::Ok();
    case EightBit::kLatin9:
      EightBitToUtf8(buffer, Latin9Char);
      return platform::Status::Ok();
    default:
      return platform::Status::Error(
          "it declares the text encoding \"" + declared +
          "\", which this program cannot read (save it as UTF-8 or windows-1252)");
  }
}

}  // namespace importer
