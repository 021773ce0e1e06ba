#include "text/text.h"

#include <array>

namespace text {
namespace {

// windows-1252 differs from ISO-8859-1 only in 0x80..0x9F.
constexpr std::array<char16_t, 32> kWindows1252High = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,  // 80
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,  // 88
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 90
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,  // 98
};

constexpr char32_t kReplacement = 0xFFFD;

bool IsHighSurrogate(char32_t u) {
  return u >= 0xD800 && u < 0xDC00;
}
bool IsLowSurrogate(char32_t u) {
  return u >= 0xDC00 && u < 0xE000;
}

}  // namespace

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

char32_t FromWindows1252(unsigned char byte) {
  if (byte >= 0x80 && byte < 0xA0) return kWindows1252High[byte - 0x80];
  return byte;
}

char32_t FromLatin9(unsigned char byte) {
  switch (byte) {
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
      return byte;
  }
}

std::string Utf16ToUtf8(std::u16string_view units) {
  std::string out;
  out.reserve(units.size());
  for (std::size_t i = 0; i < units.size(); ++i) {
    const char32_t u = units[i];
    if (IsHighSurrogate(u) && i + 1 < units.size() && IsLowSurrogate(units[i + 1])) {
      AppendUtf8(out, 0x10000 + ((u - 0xD800) << 10) + (units[i + 1] - 0xDC00));
      ++i;
    } else if (IsHighSurrogate(u) || IsLowSurrogate(u)) {
      AppendUtf8(out, kReplacement);
    } else {
      AppendUtf8(out, u);
    }
  }
  return out;
}

std::string WideBytesToUtf8(std::string_view bytes, int unitSize, bool bigEndian) {
  const auto unit = static_cast<std::size_t>(unitSize);
  const auto read = [&](std::size_t at) {
    char32_t value = 0;
    for (std::size_t k = 0; k < unit; ++k) {
      const auto b = static_cast<unsigned char>(bytes[at + k]);
      value |= static_cast<char32_t>(b) << (8 * (bigEndian ? unit - 1 - k : k));
    }
    return value;
  };
  const std::size_t whole = bytes.size() / unit * unit;
  std::string out;
  if (unit == 2) {
    std::u16string units;
    units.reserve(whole / 2);
    for (std::size_t i = 0; i < whole; i += 2) units += static_cast<char16_t>(read(i));
    out = Utf16ToUtf8(units);
  } else {
    out.reserve(whole / 4);
    for (std::size_t i = 0; i < whole; i += 4) {
      const char32_t c = read(i);
      AppendUtf8(out, (IsHighSurrogate(c) || IsLowSurrogate(c) || c > 0x10FFFF) ? kReplacement : c);
    }
  }
  if (whole < bytes.size()) AppendUtf8(out, kReplacement);
  return out;
}

std::string Escaped(std::string_view text) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(text.size());
  const auto escape = [&](unsigned char byte) {
    out += "\\x";
    out += kDigits[byte >> 4];
    out += kDigits[byte & 0xF];
  };
  for (std::size_t i = 0; i < text.size();) {
    const auto lead = static_cast<unsigned char>(text[i]);
    if (lead < 0x80) {
      if (lead < 0x20 || lead == 0x7F) {
        escape(lead);
      } else {
        out += static_cast<char>(lead);
      }
      ++i;
      continue;
    }
    // The length and the smallest character a lead byte allows, so that
    // overlong forms and surrogates count as not UTF-8.
    std::size_t length = 0;
    char32_t c = 0;
    char32_t least = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
      length = 2, c = lead & 0x1F, least = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      length = 3, c = lead & 0x0F, least = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      length = 4, c = lead & 0x07, least = 0x10000;
    }
    bool valid = length > 0 && i + length <= text.size();
    for (std::size_t k = 1; valid && k < length; ++k) {
      const auto next = static_cast<unsigned char>(text[i + k]);
      valid = (next & 0xC0) == 0x80;
      c = (c << 6) | (next & 0x3F);
    }
    valid = valid && c >= least && c <= 0x10FFFF && !(c >= 0xD800 && c <= 0xDFFF);
    if (!valid) {
      escape(lead);
      ++i;
      continue;
    }
    if (c < 0xA0) {  // C1 controls: CSI (U+009B) starts a terminal escape too
      for (std::size_t k = 0; k < length; ++k) escape(static_cast<unsigned char>(text[i + k]));
    } else {
      out.append(text.substr(i, length));
    }
    i += length;
  }
  return out;
}

std::string AsciiLower(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) c = AsciiLower(c);
  return lower;
}

bool EqualsIgnoringAsciiCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
  }
  return true;
}

}  // namespace text
