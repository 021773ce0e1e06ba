#include "platform/posix/wine_registry.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <sstream>
#include <string_view>

#include "text/text.h"

namespace platform {
namespace {

constexpr long kErrorInvalidHandle = 6;

// "Software\\Classes\" and "software\classes" name the same key.
std::string KeyPath(std::string_view path) {
  std::string normal;
  for (const char c : path) {
    if (c == '\\' && (normal.empty() || normal.back() == '\\')) continue;
    normal += c;
  }
  if (!normal.empty() && normal.back() == '\\') normal.pop_back();
  return text::AsciiLower(normal);
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Reads a quoted or bracketed name or string starting after its opening
// character, up to the unescaped `close`, decoding Wine's escapes: \\ \" \]
// and the C letters, \xHHHH (a UTF-16 unit) and \ooo (octal). Plain bytes are
// kept as they stand (the file is UTF-8). Returns the text as UTF-8 and moves
// `pos` past `close`, or nothing when the text is not closed.
std::optional<std::string> ReadEscaped(std::string_view line, std::size_t& pos, char close) {
  std::string out;
  // Escaped units wait here so a surrogate pair written as two \x escapes
  // becomes one character.
  std::u16string units;
  auto flushUnits = [&] {
    out += text::Utf16ToUtf8(units);
    units.clear();
  };
  while (pos < line.size()) {
    const char c = line[pos++];
    if (c == close) {
      flushUnits();
      return out;
    }
    if (c != '\\' || pos >= line.size()) {
      flushUnits();
      out += c;
      continue;
    }
    const char e = line[pos++];
    switch (e) {
      case 'a':
        units += u'\a';
        break;
      case 'b':
        units += u'\b';
        break;
      case 'e':
        units += u'\x1b';
        break;
      case 'f':
        units += u'\f';
        break;
      case 'n':
        units += u'\n';
        break;
      case 'r':
        units += u'\r';
        break;
      case 't':
        units += u'\t';
        break;
      case 'v':
        units += u'\v';
        break;
      case 'x': {
        unsigned value = 0;
        int digits = 0;
        while (digits < 4 && pos < line.size() && HexDigit(line[pos]) >= 0) {
          value = value * 16 + static_cast<unsigned>(HexDigit(line[pos++]));
          ++digits;
        }
        units += digits == 0 ? u'x' : static_cast<char16_t>(value);
        break;
      }
      default:
        if (e >= '0' && e <= '7') {
          unsigned value = static_cast<unsigned>(e - '0');
          for (int digits = 1;
               digits < 3 && pos < line.size() && line[pos] >= '0' && line[pos] <= '7'; ++digits) {
            value = value * 8 + static_cast<unsigned>(line[pos++] - '0');
          }
          units += static_cast<char16_t>(value);
        } else {
          flushUnits();
          out += e;
        }
    }
  }
  return std::nullopt;
}

// "01,02,ff" (blanks allowed) to bytes; nothing when a pair is not hex.
std::optional<std::vector<std::uint8_t>> ParseHexList(std::string_view text) {
  std::vector<std::uint8_t> bytes;
  std::string digits;
  auto take = [&]() -> bool {
    if (digits.empty()) return true;
    if (digits.size() > 2) return false;
    int value = 0;
    for (const char c : digits) {
      const int d = HexDigit(c);
      if (d < 0) return false;
      value = value * 16 + d;
    }
    bytes.push_back(static_cast<std::uint8_t>(value));
    digits.clear();
    return true;
  };
  for (const char c : text) {
    if (c == ',') {
      if (!take()) return std::nullopt;
    } else if (c != ' ' && c != '\t') {
      digits += c;
    }
  }
  if (!take()) return std::nullopt;
  return bytes;
}

std::vector<std::uint8_t> TextBytes(const std::string& text) {
  std::vector<std::uint8_t> bytes(text.begin(), text.end());
  bytes.push_back(0);
  return bytes;
}

bool IsStringType(std::uint32_t type) {
  return type == kRegSz || type == kRegExpandSz || type == kRegMultiSz;
}

// Wine keeps string values as UTF-16; RegQueryValueExA hands them out in the
// 8-bit character set, one zero byte for each zero unit.
std::vector<std::uint8_t> NarrowUtf16(const std::vector<std::uint8_t>& wide) {
  if (wide.size() % 2 != 0) return wide;
  const std::string narrow = text::WideBytesToUtf8(
      std::string_view(reinterpret_cast<const char*>(wide.data()), wide.size()), 2, false);
  return std::vector<std::uint8_t>(narrow.begin(), narrow.end());
}

struct ParsedValue {
  std::uint32_t type = 0;
  std::vector<std::uint8_t> bytes;
};

std::optional<ParsedValue> ParseData(std::string_view data) {
  std::size_t pos = 0;
  if (data.starts_with('"')) {
    pos = 1;
    auto text = ReadEscaped(data, pos, '"');
    if (!text) return std::nullopt;
    return ParsedValue{kRegSz, TextBytes(*text)};
  }
  if (data.starts_with("str(")) {
    const auto close = data.find("):\"");
    if (close == std::string_view::npos) return std::nullopt;
    unsigned type = 0;
    std::istringstream number{std::string(data.substr(4, close - 4))};
    if (!(number >> std::hex >> type)) return std::nullopt;
    pos = close + 3;
    auto text = ReadEscaped(data, pos, '"');
    if (!text) return std::nullopt;
    return ParsedValue{type, TextBytes(*text)};
  }
  if (data.starts_with("dword:")) {
    const std::string_view digits = data.substr(6);
    if (digits.empty() || digits.size() > 8) return std::nullopt;
    std::uint32_t value = 0;
    for (const char c : digits) {
      const int d = HexDigit(c);
      if (d < 0) return std::nullopt;
      value = value * 16 + static_cast<std::uint32_t>(d);
    }
    return ParsedValue{
        kRegDword,
        {static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8),
         static_cast<std::uint8_t>(value >> 16), static_cast<std::uint8_t>(value >> 24)}};
  }
  if (data.starts_with("hex")) {
    std::uint32_t type = kRegBinary;
    std::string_view rest = data.substr(3);
    if (rest.starts_with('(')) {
      const auto close = rest.find(')');
      if (close == std::string_view::npos) return std::nullopt;
      std::istringstream number{std::string(rest.substr(1, close - 1))};
      if (!(number >> std::hex >> type)) return std::nullopt;
      rest = rest.substr(close + 1);
    }
    if (!rest.starts_with(':')) return std::nullopt;
    auto bytes = ParseHexList(rest.substr(1));
    if (!bytes) return std::nullopt;
    if (IsStringType(type)) *bytes = NarrowUtf16(*bytes);
    return ParsedValue{type, std::move(*bytes)};
  }
  return std::nullopt;
}

std::string_view TrimLeft(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  return s;
}

std::string_view TrimRight(std::string_view s) {
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) {
    s.remove_suffix(1);
  }
  return s;
}

}  // namespace

WineRegistry::WineRegistry(const std::string& systemRegPath) {
  if (systemRegPath.empty()) return;
  // Opening a pipe waits for a writer, and a device may never end: only a
  // regular file is a registry.
  std::error_code ec;
  if (!std::filesystem::is_regular_file(systemRegPath, ec)) return;
  std::ifstream in(systemRegPath, std::ios::binary);
  if (!in) return;
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  Parse(text);
}

void WineRegistry::Parse(const std::string& text) {
  Values* current = nullptr;
  std::istringstream lines(text);
  std::string raw;
  while (std::getline(lines, raw)) {
    std::string line(TrimRight(raw));
    // Long hex values go on over several lines, each but the last ending in "\".
    while (!line.empty() && line.back() == '\\' && line.find("=hex") != std::string::npos &&
           std::getline(lines, raw)) {
      line.pop_back();
      line += TrimLeft(TrimRight(raw));
    }
    const std::string_view view = TrimLeft(line);
    if (view.empty() || view.front() == ';' || view.front() == '#') continue;

    if (view.front() == '[') {
      std::size_t pos = 1;
      auto name = ReadEscaped(view, pos, ']');
      current = name ? &keys_[KeyPath(*name)] : nullptr;
      continue;
    }
    if (current == nullptr) continue;

    std::string name;
    std::size_t pos = 0;
    if (view.front() == '@') {
      pos = 1;
    } else if (view.front() == '"') {
      pos = 1;
      auto quoted = ReadEscaped(view, pos, '"');
      if (!quoted) continue;
      name = *quoted;
    } else {
      continue;
    }
    const std::string_view rest = TrimLeft(view.substr(pos));
    if (!rest.starts_with('=')) continue;
    auto value = ParseData(TrimLeft(rest.substr(1)));
    if (!value) continue;
    (*current)[text::AsciiLower(name)] = Value{value->type, std::move(value->bytes)};
  }
}

long WineRegistry::OpenKey(RegistryHandle root, const std::string& keyName, RegistryHandle& key) {
  if (root != kHkeyLocalMachine) return kErrorFileNotFound;
  const auto it = keys_.find(KeyPath(keyName));
  if (it == keys_.end()) return kErrorFileNotFound;
  key = nextHandle_++;
  open_[key] = &it->second;
  return kErrorSuccess;
}

long WineRegistry::QueryValue(RegistryHandle key, const std::string& valueName, std::uint32_t& type,
                              std::vector<std::uint8_t>& buffer, std::uint32_t& length) {
  const auto handle = open_.find(key);
  if (handle == open_.end()) return kErrorInvalidHandle;
  const auto it = handle->second->find(text::AsciiLower(valueName));
  if (it == handle->second->end()) return kErrorFileNotFound;
  type = it->second.type;
  length = static_cast<std::uint32_t>(it->second.bytes.size());
  if (buffer.size() < it->second.bytes.size()) return kErrorMoreData;
  std::copy(it->second.bytes.begin(), it->second.bytes.end(), buffer.begin());
  return kErrorSuccess;
}

void WineRegistry::CloseKey(RegistryHandle key) {
  open_.erase(key);
}

std::string WineRegistry::DefaultPath(const char* winePrefix, const char* home) {
  if (winePrefix != nullptr && *winePrefix != '\0') return std::string(winePrefix) + "/system.reg";
  if (home != nullptr && *home != '\0') return std::string(home) + "/.wine/system.reg";
  return {};
}

}  // namespace platform
