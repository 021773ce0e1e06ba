#include "shell/win/shown_text.h"

#include <windows.h>

namespace shell::win {

std::wstring DisplayText(const std::string& bytes) {
  if (bytes.empty()) return {};
  const int size = static_cast<int>(bytes.size());
  int length = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bytes.data(), size, nullptr, 0);
  UINT codePage = CP_UTF8;
  DWORD flags = MB_ERR_INVALID_CHARS;
  if (length == 0) {
    codePage = 1252;
    flags = 0;
    length = MultiByteToWideChar(codePage, flags, bytes.data(), size, nullptr, 0);
  }
  std::wstring wide(static_cast<std::size_t>(length), L'\0');
  MultiByteToWideChar(codePage, flags, bytes.data(), size, wide.data(), length);
  return wide;
}

std::wstring ShownText(const std::string& bytes) {
  const std::wstring text = DisplayText(bytes);
  std::wstring out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == L'\n' && (i == 0 || text[i - 1] != L'\r')) out += L'\r';
    out += text[i];
  }
  return out;
}

}  // namespace shell::win
