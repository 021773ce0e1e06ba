#include "import/text_encoding.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <utility>

#include "text/text.h"

namespace importer {
namespace {

char32_t Windows1252Char(unsigned char b) {
  return text::FromWindows1252(b);
}

char32_t Latin9Char(unsigned char b) {
  return text::FromLatin9(b);
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
    size += text::Utf8Length(map(static_cast<unsigned char>(bytes[i]))) - 1;
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
    const std::size_t n =
        text::EncodeUtf8(map(static_cast<unsigned char>(data[read - 1])), encoded);
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

bool StartsWith(std::string_view bytes, std::string_view prefix) {
  return bytes.substr(0, prefix.size()) == prefix;
}

bool IsXmlSpace(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

enum class EightBit { kUtf8, kWindows1252, kLatin9, kUnknown };

EightBit ClassifyEncoding(std::string_view declared) {
  const std::string name = text::AsciiLower(declared);
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
    int unitSize;
    bool bigEndian;
  };
  static const Wide kWide[] = {
      {std::string_view("\xFF\xFE\0\0", 4), 4, 4, false},
      {std::string_view("\0\0\xFE\xFF", 4), 4, 4, true},
      {"\xFF\xFE", 2, 2, false},
      {"\xFE\xFF", 2, 2, true},
      // No mark: the shape of "<" tells the width.
      {std::string_view("<\0\0\0", 4), 0, 4, false},
      {std::string_view("\0\0\0<", 4), 0, 4, true},
      {std::string_view("<\0", 2), 0, 2, false},
      {std::string_view("\0<", 2), 0, 2, true},
  };
  if (StartsWith(bytes, "\xEF\xBB\xBF")) {
    std::memmove(buffer.data(), buffer.data() + 3, bytes.size() - 3);
    buffer.SetSize(bytes.size() - 3);
    return platform::Status::Ok();
  }
  for (const Wide& w : kWide) {
    if (StartsWith(bytes, w.start)) {
      Replace(buffer, text::WideBytesToUtf8(bytes.substr(w.skip), w.unitSize, w.bigEndian));
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

std::optional<DirectForm> DirectlyReadableForm(std::string_view bytes) {
  if (StartsWith(bytes, "\xEF\xBB\xBF")) return DirectForm{ByteForm::kUtf8, 3};
  // The shapes of "<" in UTF-16 and UTF-32, with or without a mark.
  if (StartsWith(bytes, "\xFF\xFE") || StartsWith(bytes, "\xFE\xFF") ||
      StartsWith(bytes, std::string_view("\0", 1)) ||
      StartsWith(bytes, std::string_view("<\0", 2))) {
    return std::nullopt;
  }
  switch (ClassifyEncoding(DeclaredXmlEncoding(bytes))) {
    case EightBit::kUtf8:
      return DirectForm{ByteForm::kUtf8, 0};
    case EightBit::kWindows1252:
      return DirectForm{ByteForm::kWindows1252, 0};
    case EightBit::kLatin9:
      return DirectForm{ByteForm::kLatin9, 0};
    default:
      return std::nullopt;
  }
}

std::string ToUtf8(std::string_view raw, ByteForm form) {
  if (form == ByteForm::kUtf8 || IsAscii(raw)) return std::string(raw);
  const auto map = form == ByteForm::kLatin9 ? text::FromLatin9 : text::FromWindows1252;
  std::string out;
  out.reserve(raw.size() + raw.size() / 2);
  for (const char c : raw) text::AppendUtf8(out, map(static_cast<unsigned char>(c)));
  return out;
}

}  // namespace importer
