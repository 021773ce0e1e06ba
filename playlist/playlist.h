#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/file_store.h"
#include "platform/status.h"
#include "platform/user_interface.h"
#include "playlist/list_box.h"
#include "playlist/playlist_entry.h"

namespace playlist {

// The playlist: the records (`PlaylistEntries`), the list box that orders
// them, and the file playlist.txt that keeps them between runs.
//
// Records only ever grow: a record keeps its index for the life of the
// object, and list items refer to records by that index (their item data).
// The list box must be changed only through this class while it is in use,
// or the item data stops matching the records.
class Playlist {
 public:
  Playlist(ListBox& list, platform::UserInterface& ui, platform::FileStore& files,
           std::string playlistFilePath);

  // Start-up: one empty record at index 0 (the list itself is emptied by the
  // caller).
  void ResetEntries();
  // Reads playlist.txt into the list. A missing file leaves the list empty;
  // an old file or old entries are refused with the messages the user knows.
  // Never writes the file.
  void LoadPlaylist();
  void AddPlaylistEntry(const PlaylistEntry& entry);
  // Rewrites playlist.txt from the list in its current order. On failure the
  // user has been told (file and reason) and the error is returned; the list
  // and the records are unchanged.
  platform::Status SavePlaylist();
  void MovePlaylistItem(int from, int to);

  // Move Up, Move Down and Remove save the file; when that fails the user is
  // told and the list goes back to what the file holds.
  void cmdPlayListMoveUp_Click();
  void cmdPlaylistMoveDown_Click();
  void cmdPlaylistRemove_Click();

  // For the show: rows of the list in playing order.
  int RowCount() const;
  // The record of list row `row`. A row outside the list gives an empty
  // record, which no player can open.
  const PlaylistEntry& EntryAtRow(int row) const;
  void SelectRow(int row);

  const std::vector<PlaylistEntry>& Entries() const { return entries_; }
  const std::string& FilePath() const { return path_; }

  // Hears every write of playlist.txt that fails, with the reason (the show
  // log keeps them); the user has been told as well.
  void OnRefusedWrite(std::function<void(const std::string&)> listener) {
    onRefusedWrite_ = std::move(listener);
  }

 private:
  ListBox& list_;
  platform::UserInterface& ui_;
  platform::FileStore& files_;
  std::string path_;
  void MoveAndSave(int offset);

  std::vector<PlaylistEntry> entries_;
  // Whether element 0 has received an entry since the last reset.
  bool element0Filled_ = false;
  PlaylistEntry noEntry_;
  std::function<void(const std::string&)> onRefusedWrite_;
};

// Message A: the file was written by a version older than this one.
std::string OldPlaylistMessage();
// Message B: one entry was written by an older version and is dropped.
std::string OldEntryMessage(const std::string& listText);

// The text of the header line of playlist.txt, without its line end.
std::string PlaylistHeader();

// The file holds one value per line, without escaping: a line break inside
// a value would split it into two lines and shift every later entry. These
// find and replace (by a blank) the control characters a value cannot hold.
bool HoldsControlCharacters(std::string_view value);
std::string WithoutControlCharacters(std::string_view value);

// The file's content for these records, in this order. Control characters in
// a value are written as blanks, so each value stays one line.
std::string FormatPlaylistFile(const std::vector<const PlaylistEntry*>& entries);

// Reads a version number as the file holds it: decimal digits with an
// optional point and fraction ("0.94", "1", "1.2"), blanks around allowed.
// Anything else is not a number.
std::optional<double> ParseVersionNumber(std::string_view text);

// Whether a version text is at least the program version; a text that is not
// a number counts as older.
bool IsCurrentVersion(std::string_view text);

}  // namespace playlist
