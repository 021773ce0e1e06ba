#pragma once

#include <string>
#include <string_view>

namespace playlist {

// One playlist entry: five texts.
struct PlaylistEntry {
  std::string AudioPath;
  std::string CachePath;
  std::string ListText;
  std::string Version;
  std::string SourcePath;
};

// A list text is the display title, nine blanks and the archive's path in
// parentheses, as the import writes it. Where there is room for the title
// alone (a phone, a console line) the path is the details' business.
inline constexpr std::string_view kListTextGap = "         (";
inline std::string TitleOfListText(std::string_view listText) {
  const std::size_t gap = listText.rfind(kListTextGap);
  if (gap == std::string_view::npos || gap == 0 || listText.back() != ')') {
    return std::string(listText);
  }
  return std::string(listText.substr(0, gap));
}
// The archive's path a list text ends with; empty when it names none.
inline std::string ArchiveOfListText(std::string_view listText) {
  const std::size_t gap = listText.rfind(kListTextGap);
  if (gap == std::string_view::npos || gap == 0 || listText.back() != ')') return {};
  const std::size_t from = gap + kListTextGap.size();
  return std::string(listText.substr(from, listText.size() - 1 - from));
}

// The version written into playlist.txt and each entry, and the oldest one
// the loader accepts. It names the file's format: it stays "0.94" whatever
// version the program itself has.
inline constexpr const char* kProgramVersion = "0.94";

}  // namespace playlist
