#include "playlist/playlist.h"

#include <cerrno>
#include <charconv>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <utility>

namespace playlist {
namespace {

constexpr char kDegreeSign = '\xB0';
constexpr std::string_view kLineEnd = "\r\n";
constexpr int kLinesPerEntry = 5;
// Far more than a playlist of thousands of entries; a larger file is not one.
constexpr std::uintmax_t kLargestPlaylistFile = 64 * 1024 * 1024;

bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}

// Whether a ListText ends with this SourcePath in parentheses, as the import
// writes it.
bool EndsWithSource(std::string_view listText, std::string_view source) {
  return listText.size() >= source.size() + 2 && listText.ends_with(')') &&
         listText.substr(listText.size() - source.size() - 1, source.size()) == source &&
         listText[listText.size() - source.size() - 2] == '(';
}

}  // namespace

std::string OldPlaylistMessage() {
  return std::string("Your playlist was created before version ") + kProgramVersion +
         ".  Please re-add your .msq files to your playlist. (this is not an error message)";
}

std::string OldEntryMessage(const std::string& listText) {
  // A NUL in a hand-edited list text ended the message there, in the box
  // and on the terminal alike; controls show as blanks.
  return "The sequence " + WithoutControlCharacters(listText) +
         " has been removed from your playlist because it was created with a version of this "
         "software before version " +
         kProgramVersion + ".  You will need to re-import this sequence into your playlist.";
}

std::string PlaylistHeader() {
  return std::string(1, kDegreeSign) + kProgramVersion;
}

bool HoldsControlCharacters(std::string_view value) {
  for (const char c : value) {
    if (static_cast<unsigned char>(c) < 0x20 || c == '\x7F') return true;
  }
  return false;
}

std::string WithoutControlCharacters(std::string_view value) {
  std::string out(value);
  for (char& c : out) {
    if (static_cast<unsigned char>(c) < 0x20 || c == '\x7F') c = ' ';
  }
  return out;
}

std::string FormatPlaylistFile(const std::vector<const PlaylistEntry*>& entries) {
  std::string out = PlaylistHeader();
  out += kLineEnd;
  for (const PlaylistEntry* entry : entries) {
    // The file order differs from the record order: Version comes last.
    for (const std::string* field : {&entry->AudioPath, &entry->CachePath, &entry->ListText,
                                     &entry->SourcePath, &entry->Version}) {
      out += HoldsControlCharacters(*field) ? WithoutControlCharacters(*field) : *field;
      out += kLineEnd;
    }
  }
  return out;
}

std::optional<double> ParseVersionNumber(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  // from_chars alone would also take "inf", "nan" and exponents; a version
  // is only ever digits with an optional point.
  bool digit = false;
  bool point = false;
  for (char c : text) {
    if (c >= '0' && c <= '9') {
      digit = true;
    } else if (c == '.' && !point) {
      point = true;
    } else {
      return std::nullopt;
    }
  }
  if (!digit) return std::nullopt;
  double value = 0.0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

bool IsCurrentVersion(std::string_view text) {
  const auto value = ParseVersionNumber(text);
  const auto current = ParseVersionNumber(kProgramVersion);
  return value && current && *value >= *current;
}

Playlist::Playlist(ListBox& list, platform::UserInterface& ui, platform::FileStore& files,
                   std::string playlistFilePath)
    : list_(list), ui_(ui), files_(files), path_(std::move(playlistFilePath)) {
  ResetEntries();
}

void Playlist::ResetEntries() {
  entries_.assign(1, PlaylistEntry{});
  element0Filled_ = false;
}

void Playlist::AddPlaylistEntry(const PlaylistEntry& entry) {
  // Element 0 waits for the first entry. Its CachePath is empty exactly until
  // then for every entry an import makes; a flag keeps a damaged file (an
  // entry with an empty CachePath) from making two list items share element 0.
  if (element0Filled_) entries_.emplace_back();
  element0Filled_ = true;
  entries_.back() = entry;
  const int item = list_.Count();
  list_.InsertItem(item, entry.ListText);
  list_.SetItemData(item, static_cast<std::int32_t>(entries_.size() - 1));
}

platform::Status Playlist::SavePlaylist() {
  std::vector<const PlaylistEntry*> ordered;
  ordered.reserve(static_cast<std::size_t>(list_.Count()));
  for (int row = 0; row < list_.Count(); ++row) ordered.push_back(&EntryAtRow(row));
  const platform::Status written = files_.ReplaceFile(path_, FormatPlaylistFile(ordered));
  if (written.ok()) return written;
  if (onRefusedWrite_) onRefusedWrite_(written.message());
  const std::string message = "The playlist could not be saved to the file " + path_ + ".\r\n\r\n" +
                              written.message() +
                              "\r\n\r\nThe playlist shown is unchanged; the file keeps its "
                              "previous content.";
  ui_.ShowMessage(message);
  return platform::Status::Error(message);
}

void Playlist::LoadPlaylist() {
  if (platform::KindOfPath(path_) == platform::FileKind::Missing) return;
  platform::Result<std::string> read = files_.ReadWholeFile(path_, kLargestPlaylistFile);
  if (!read) {
    ui_.ShowMessage("The playlist file " + path_ + " could not be read: " + read.message() + ".");
    return;
  }
  const std::string bytes = std::move(read).value();

  const std::vector<std::string> lines = platform::SplitTextLines(bytes);
  if (lines.empty()) {
    // An empty file has no header at all: older than any version we know.
    ui_.ShowMessage(OldPlaylistMessage());
    return;
  }
  const std::string& header = lines.front();
  if (header.empty() || header.front() != kDegreeSign ||
      !IsCurrentVersion(std::string_view(header).substr(1))) {
    ui_.ShowMessage(OldPlaylistMessage());
    return;
  }

  // A file that ends inside an entry keeps its complete entries; the rest is
  // not an entry at all.
  for (std::size_t first = 1; first + kLinesPerEntry <= lines.size();) {
    std::size_t version = first + kLinesPerEntry - 1;
    // An entry of more than five lines: a title with a line break, written
    // by an older version. Its ListText always ends with its SourcePath in
    // parentheses, which finds where it ends, so the entries after it keep
    // their own lines.
    if (!ParseVersionNumber(lines[version]) &&
        !EndsWithSource(lines[first + 2], lines[first + 3])) {
      std::string title = lines[first + 2];
      constexpr std::size_t kMostTitleLines = 1000;
      for (std::size_t next = version; next + 1 < lines.size() && next < version + kMostTitleLines;
           ++next) {
        title += lines[next - 1];
        if (ParseVersionNumber(lines[next + 1]) && EndsWithSource(title, lines[next])) {
          version = next + 1;
          break;
        }
      }
    }
    PlaylistEntry entry;
    entry.AudioPath = lines[first];
    entry.CachePath = lines[first + 1];
    for (std::size_t line = first + 2; line + 1 < version; ++line) {
      if (line > first + 2) entry.ListText += ' ';
      entry.ListText += lines[line];
    }
    entry.SourcePath = lines[version - 1];
    entry.Version = lines[version];
    first = version + 1;
    if (IsCurrentVersion(entry.Version)) {
      AddPlaylistEntry(entry);
    } else {
      ui_.ShowMessage(OldEntryMessage(entry.ListText));
    }
  }
}

void Playlist::MovePlaylistItem(int from, int to) {
  const int last = list_.Count() - 1;
  if (to < 0 || to > last || from < 0 || from > last) return;
  const std::string text = list_.Text(from);
  const std::int32_t data = list_.ItemData(from);
  list_.RemoveItem(from);
  list_.InsertItem(to, text);
  list_.SetItemData(to, data);
  list_.Select(to);
  list_.SetFocus();
}

void Playlist::MoveAndSave(int offset) {
  const int selected = list_.SelectedIndex();
  const int to = selected + offset;
  const bool moves = selected >= 0 && selected < list_.Count() && to >= 0 && to < list_.Count();
  if (selected >= 0) MovePlaylistItem(selected, to);
  // A failed save has been shown to the user; the move is taken back so the
  // list shows what the file holds and what the next start will load.
  if (!SavePlaylist().ok() && moves) MovePlaylistItem(to, selected);
}

void Playlist::cmdPlayListMoveUp_Click() {
  MoveAndSave(-1);
}

void Playlist::cmdPlaylistMoveDown_Click() {
  MoveAndSave(+1);
}

void Playlist::cmdPlaylistRemove_Click() {
  const int selected = list_.SelectedIndex();
  if (list_.Count() == 0 || selected < 0 || selected >= list_.Count()) return;
  const std::string text = list_.Text(selected);
  const std::int32_t data = list_.ItemData(selected);
  // The record stays: other items' item data still point past it.
  list_.RemoveItem(selected);
  // Some list widgets move the selection to a neighbour; a removal leaves
  // none, so a second click cannot remove another entry by surprise.
  list_.Select(-1);
  if (SavePlaylist().ok()) return;
  // Not saved (the user has been told): the entry comes back where it was.
  list_.InsertItem(selected, text);
  list_.SetItemData(selected, data);
  list_.Select(selected);
}

int Playlist::RowCount() const {
  return list_.Count();
}

const PlaylistEntry& Playlist::EntryAtRow(int row) const {
  if (row < 0 || row >= list_.Count()) return noEntry_;
  const std::int32_t index = list_.ItemData(row);
  if (index < 0 || static_cast<std::size_t>(index) >= entries_.size()) return noEntry_;
  return entries_[static_cast<std::size_t>(index)];
}

void Playlist::SelectRow(int row) {
  if (row >= 0 && row < list_.Count()) list_.Select(row);
}

}  // namespace playlist
